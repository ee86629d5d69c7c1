// Strings from the string table of the module's Windows resources.
#include "platform/win32/windows_api.h"

#include "platform/module_instance.h"
#include "platform/resources.h"

namespace platform {

int LoadStringResource(const ModuleInstance* instance, uint16_t id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    if (instance == nullptr || instance->handle == nullptr) return 0;
    const int copied =
        LoadStringA(static_cast<HINSTANCE>(instance->handle), id, buffer, size);
    if (copied <= 0) buffer[0] = '\0';
    return copied > 0 ? copied : 0;
}

}  // namespace platform
