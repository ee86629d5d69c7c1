#include <windows.h>

#include <cstdlib>
#include <string>

#include "host/plugin_host/module_loader.h"

LoadedModule::~LoadedModule() {
    if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
}

bool LoadModule(const CatalogueEntry& module, LoadedModule* loaded, std::string* error) {
    HMODULE library = LoadLibraryA(module.path.c_str());
    if (library == nullptr) {
        *error = "cannot load " + module.path + " (error " +
                 std::to_string(static_cast<unsigned long>(GetLastError())) + ")";
        return false;
    }
    FARPROC symbol = GetProcAddress(library, module.properties.entryPoint.c_str());
    if (symbol == nullptr) {
        *error = module.path + " has no entry point " + module.properties.entryPoint;
        FreeLibrary(library);
        return false;
    }
    loaded->handle = library;
    loaded->entry = reinterpret_cast<PluginEntryProc>(reinterpret_cast<void*>(symbol));
    return true;
}

void SetEnvironmentValue(const char* name, const char* value) { _putenv_s(name, value); }

bool HostHasDisplay() { return GetSystemMetrics(SM_CXSCREEN) > 0; }
