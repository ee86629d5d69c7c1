#include <dlfcn.h>

#include <cstdlib>

#include "host/plugin_host/module_loader.h"

LoadedModule::~LoadedModule() {
    if (handle != nullptr) dlclose(handle);
}

bool LoadModule(const CatalogueEntry& module, LoadedModule* loaded, std::string* error) {
    loaded->handle = dlopen(module.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (loaded->handle == nullptr) {
        *error = "cannot load " + module.path + ": " + dlerror();
        return false;
    }
    void* symbol = dlsym(loaded->handle, module.properties.entryPoint.c_str());
    if (symbol == nullptr) {
        *error = module.path + " has no entry point " + module.properties.entryPoint;
        dlclose(loaded->handle);
        loaded->handle = nullptr;
        return false;
    }
    loaded->entry = reinterpret_cast<PluginEntryProc>(symbol);
    return true;
}

void SetEnvironmentValue(const char* name, const char* value) { setenv(name, value, 1); }

bool HostHasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}
