// The module instance: which file the module was loaded from and which resources it carries,
// recorded by the module's load notification. Everything the module loads at run time comes
// from here.
#pragma once

#include <string>

#include "platform/resources.h"

namespace platform {

struct ModuleInstance {
    std::string path;  // the module's file
    void* handle = nullptr;  // the system's instance handle of the module, where it has one
    const ResourceTable* resources = nullptr;
};

// Records the module that contains address (found through the dynamic loader) with its
// resources and returns the instance. The instance lives until the module is unloaded; a
// second call replaces the recorded path and resources.
const ModuleInstance* RecordModuleInstance(const void* address, const ResourceTable* resources);

// The instance recorded last, or null before the first load notification.
const ModuleInstance* CurrentModuleInstance();

// Prepares the application framework for the module: its resources become the ones dialogs,
// strings and cursors are loaded from. The windowing system itself is started only when
// something needs it (see EnsureWindowingSystem). Returns true.
bool InitFramework(const ModuleInstance* instance);

// Starts the windowing system if the host has not: creates the GUI application object once,
// on the offscreen platform when there is no display. False when no GUI can be had (the host
// runs a non-GUI application object of its own).
bool EnsureWindowingSystem();

// Deletes the GUI application object that EnsureWindowingSystem created, if any (a host's own
// is left alone): called when the module has no window left to show, at the end of a read
// or after the about box. The next EnsureWindowingSystem starts a new one.
void ShutdownWindowingSystem();

// True when the windowing system runs without a screen the user could see (no display, or
// the offscreen platform).
bool IsHeadless();

}  // namespace platform
