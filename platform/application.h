// The application object of a module: what the framework's application class holds for it.
#pragma once

#include <string>

#include "platform/module_instance.h"

namespace platform {

class Window;

class Application {
  public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The module whose resources this application loads.
    const ModuleInstance* m_hInstance = nullptr;
    // The window that stands for the application while it runs (the modal dialog), or null.
    Window* m_pMainWnd = nullptr;

    // The title message boxes carry when no caption is given: the module's file name
    // without its extension.
    std::string AppTitle() const;
};

}  // namespace platform
