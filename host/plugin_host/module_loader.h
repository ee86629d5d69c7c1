// Loading a module to call it, and the process environment the module reads.
#pragma once

#include <string>

#include "host/plugin_host/module_catalogue.h"
#include "platform/host_interface.h"

// A loaded module and its entry point; unloaded when this goes.
struct LoadedModule {
    void* handle = nullptr;
    PluginEntryProc entry = nullptr;
    ~LoadedModule();
};

// Loads the module and finds the entry point its property list names; false (with a note on
// the standard error) when either fails.
bool LoadModule(const CatalogueEntry& module, LoadedModule* loaded);

// Sets an environment variable of this process (the module reads it when it runs).
void SetEnvironmentValue(const char* name, const char* value);

// True when there is a screen to show dialogs on.
bool HostHasDisplay();
