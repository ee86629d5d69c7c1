#include "platform/resources.h"

#include "platform/module_instance.h"

namespace platform {

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
