#include "platform/resources.h"

#include <cstring>

#include "platform/module_instance.h"

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

const DialogTemplate* FindDialogTemplate(const ModuleInstance* instance, uint16_t id) {
    if (instance == nullptr || instance->resources == nullptr) return nullptr;
    for (const DialogTemplate& dialog : instance->resources->dialogs) {
        if (dialog.id == id) return &dialog;
    }
    return nullptr;
}

const CursorResource* FindCursorResource(const ModuleInstance* instance, uint16_t id) {
    if (instance == nullptr || instance->resources == nullptr) return nullptr;
    for (const CursorResource& cursor : instance->resources->cursors) {
        if (cursor.id == id) return &cursor;
    }
    return nullptr;
}

const VersionResource* FindVersionResource(const ModuleInstance* instance) {
    if (instance == nullptr || instance->resources == nullptr) return nullptr;
    return instance->resources->version;
}

}  // namespace platform
