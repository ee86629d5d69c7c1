#include "platform/application.h"

namespace platform {

Application::Application() : m_hInstance(CurrentModuleInstance()) {}

Application::~Application() = default;

std::string Application::AppTitle() const {
    const ModuleInstance* instance = m_hInstance != nullptr ? m_hInstance : CurrentModuleInstance();
    if (instance == nullptr || instance->path.empty()) return "Kavel";
    std::string name = instance->path;
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? "Kavel" : name;
}

}  // namespace platform
