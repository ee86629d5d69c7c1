#include "host/module_load.h"

#include "host/module_resources.h"
#include "platform/module_instance.h"

bool OnModuleAttach(const void* address) {
    const platform::ModuleInstance* instance =
        platform::RecordModuleInstance(address, &ModuleResources());
    platform::InitFramework(instance);
    return true;
}
