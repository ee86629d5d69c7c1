#include "platform/module_instance.h"

#include <memory>

#include "platform/module_file.h"

namespace platform {
namespace {

std::unique_ptr<ModuleInstance>& Recorded() {
    static std::unique_ptr<ModuleInstance> instance;
    return instance;
}

const ModuleInstance*& FrameworkInstance() {
    static const ModuleInstance* instance = nullptr;
    return instance;
}

}  // namespace

const ModuleInstance* RecordModuleInstance(const void* address, const ResourceTable* resources) {
    auto& recorded = Recorded();
    if (!recorded) recorded = std::make_unique<ModuleInstance>();
    if (!FindModuleFile(address, &recorded->path, &recorded->handle)) recorded->path.clear();
    recorded->resources = resources;
    return recorded.get();
}

const ModuleInstance* CurrentModuleInstance() {
    if (FrameworkInstance() != nullptr) return FrameworkInstance();
    return Recorded().get();
}

bool InitFramework(const ModuleInstance* instance) {
    FrameworkInstance() = instance;
    return true;
}

}  // namespace platform
