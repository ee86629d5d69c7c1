// The windowing system is the process's own on Windows: nothing to start but the common
// controls.
#include "platform/win32/windows_api.h"


#include "platform/module_instance.h"

namespace platform {

bool EnsureWindowingSystem() {
    static const bool started = [] {
        InitCommonControls();
        return true;
    }();
    return started;
}

// The process's windowing system is not the module's to stop.
void ShutdownWindowingSystem() {}

bool IsHeadless() { return GetSystemMetrics(SM_CXSCREEN) <= 0; }

}  // namespace platform
