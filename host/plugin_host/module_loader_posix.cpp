#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "host/plugin_host/module_loader.h"

LoadedModule::~LoadedModule() {
    if (handle != nullptr) dlclose(handle);
}

bool LoadModule(const CatalogueEntry& module, LoadedModule* loaded) {
    loaded->handle = dlopen(module.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (loaded->handle == nullptr) {
        std::fprintf(stderr, "plugin-host: cannot load %s: %s\n", module.path.c_str(), dlerror());
        return false;
    }
    void* symbol = dlsym(loaded->handle, module.properties.entryPoint.c_str());
    if (symbol == nullptr) {
        std::fprintf(stderr, "plugin-host: %s has no entry point %s\n", module.path.c_str(),
                     module.properties.entryPoint.c_str());
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
