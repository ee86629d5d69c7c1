#include "platform/module_file.h"

#include <dlfcn.h>

namespace platform {

bool FindModuleFile(const void* address, std::string* path, void** handle) {
    *handle = nullptr;
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return false;
    }
    *path = info.dli_fname;
    return true;
}

}  // namespace platform
