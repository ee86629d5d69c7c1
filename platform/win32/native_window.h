// What the Win32 backend keeps for one window. Only the platform layer includes this.
#pragma once

#include "platform/win32/windows_api.h"

#include <cstdint>

namespace platform {

class Window;

struct NativeWindow {
    HWND hwnd = nullptr;
};

// The window handle behind a platform window, or null.
HWND HwndOf(const Window* window);

}  // namespace platform
