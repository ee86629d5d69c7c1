// Strings from the table a module carries compiled in.
#include <cstring>

#include "platform/module_instance.h"
#include "platform/resources.h"

namespace platform {

int LoadStringResource(const ModuleInstance* instance, uint16_t id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    if (instance == nullptr || instance->resources == nullptr) return 0;
    for (const StringResource& entry : instance->resources->strings) {
        if (entry.id != id || entry.text == nullptr) continue;
        const size_t length = std::strlen(entry.text);
        const size_t copied = length < static_cast<size_t>(size - 1) ? length : size_t(size - 1);
        std::memcpy(buffer, entry.text, copied);
        buffer[copied] = '\0';
        return static_cast<int>(copied);
    }
    return 0;
}

}  // namespace platform
