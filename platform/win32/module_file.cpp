#include "platform/module_file.h"

#include "platform/win32/windows_api.h"

namespace platform {

bool FindModuleFile(const void* address, std::string* path, void** handle) {
    *handle = nullptr;
    HMODULE module = nullptr;
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (address == nullptr ||
        !GetModuleHandleExA(flags, static_cast<LPCSTR>(address), &module)) {
        return false;
    }
    char name[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    *path = std::string(name, length);
    *handle = module;
    return true;
}

}  // namespace platform
