// Loading a module to call it, and the process environment the module reads.
#pragma once

#include <string>

#include "host/plugin_host/module_catalogue.h"
#include "platform/host_interface.h"

// A loaded module and its entry point; unloaded when it goes away.
struct LoadedModule {
    void* handle = nullptr;
    PluginEntryProc entry = nullptr;
    LoadedModule() = default;
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    ~LoadedModule();
};

// Loads the module and looks up the entry point its property list names. On failure returns
// false, leaves *loaded empty and says why in *error.
bool LoadModule(const CatalogueEntry& module, LoadedModule* loaded, std::string* error);

// Sets an environment variable of this process (the module reads it when it runs).
void SetEnvironmentValue(const char* name, const char* value);

// True when there is a screen to show dialogs on.
bool HostHasDisplay();
