// Resources a module carries: string table, dialog templates, cursors and its version block.
// A module hands its table to the platform when it is loaded (see module_instance.h); code
// then loads resources by number from its own module, never from the host's.
#pragma once

#include <cstdint>
#include <span>

#include "platform/dialog_template.h"

namespace platform {

struct ModuleInstance;

struct StringResource {
    uint16_t id;
    const char* text;
};

// A 32 x 32 monochrome cursor drawn as 32 rows of 32 characters:
//   '.' transparent   '#' black   'o' white   '~' inverts the screen
struct CursorResource {
    uint16_t id;
    int16_t hotSpotX;
    int16_t hotSpotY;
    const char* rows[32];
};

struct VersionResource {
    uint16_t fileVersion[4];
    uint16_t productVersion[4];
    uint32_t flagsMask;
    uint32_t flags;
    uint32_t operatingSystem;
    uint32_t fileType;
    uint32_t fileSubtype;
    uint16_t language;
    uint16_t codePage;
    const char* companyName;
    const char* fileDescription;
    const char* fileVersionText;
    const char* internalName;
    const char* legalCopyright;
    const char* legalTrademarks;
    const char* originalFilename;
    const char* productName;
    const char* productVersionText;
};

struct ResourceTable {
    uint16_t language;
    std::span<const StringResource> strings;
    std::span<const DialogTemplate> dialogs;
    std::span<const CursorResource> cursors;
    const VersionResource* version;
};

// Copies string id into buffer (at most size - 1 characters, always terminated) and returns
// the number of characters copied; 0 and an empty buffer when the module has no such string.
int LoadStringResource(const ModuleInstance* instance, uint16_t id, char* buffer, int size);

// The module's dialog template id, or null.
const DialogTemplate* FindDialogTemplate(const ModuleInstance* instance, uint16_t id);

// The module's cursor resource id, or null.
const CursorResource* FindCursorResource(const ModuleInstance* instance, uint16_t id);

// The module's version block, or null.
const VersionResource* FindVersionResource(const ModuleInstance* instance);

}  // namespace platform
