#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "host/plugin_host/module_loader.h"

LoadedModule::~LoadedModule() {
    if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
}

bool LoadModule(const CatalogueEntry& module, LoadedModule* loaded) {
    HMODULE library = LoadLibraryA(module.path.c_str());
    if (library == nullptr) {
        std::fprintf(stderr, "plugin-host: cannot load %s (error %lu)\n", module.path.c_str(),
                     static_cast<unsigned long>(GetLastError()));
        return false;
    }
    loaded->handle = library;
    FARPROC symbol = GetProcAddress(library, module.properties.entryPoint.c_str());
    if (symbol == nullptr) {
        std::fprintf(stderr, "plugin-host: %s has no entry point %s\n", module.path.c_str(),
                     module.properties.entryPoint.c_str());
        return false;
    }
    loaded->entry = reinterpret_cast<PluginEntryProc>(reinterpret_cast<void*>(symbol));
    return true;
}

void SetEnvironmentValue(const char* name, const char* value) { _putenv_s(name, value); }

bool HostHasDisplay() { return GetSystemMetrics(SM_CXSCREEN) > 0; }
