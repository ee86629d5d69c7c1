// Runs when the dynamic loader attaches the module to a process.
#include "host/module_load.h"

namespace {

__attribute__((constructor)) void AttachModule() {
    OnModuleAttach(reinterpret_cast<const void*>(&AttachModule));
}

}  // namespace
