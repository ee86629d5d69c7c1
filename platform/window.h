// A window of the user interface: a dialog or one of its controls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/drawing_context.h"
#include "platform/geometry.h"

namespace platform {

struct NativeWindow;

class Window {
  public:
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // False once the window on the screen is gone (the dialog has ended).
    bool IsValid() const;
    int32_t GetDlgCtrlID() const;
    uint32_t GetExStyle() const;

    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    void EnableWindow(bool enable);
    bool IsWindowEnabled() const;

    // The client area in client coordinates: (0, 0, width, height).
    Rect GetClientRect() const;
    // The whole window in screen coordinates.
    Rect GetWindowRect() const;
    Point ScreenToClient(Point point) const;
    Point ClientToScreen(Point point) const;

    // Marks the window for repainting; UpdateWindow repaints what is marked at once. With
    // erase, a pane's surface goes back to the pane's own look (button face and its grey
    // frame), wiping whatever was drawn on it, as the control's own repaint would.
    void Invalidate(bool erase = true);
    void UpdateWindow();

    // A drawing context on the client area. What is drawn shows at once and stays until it
    // is drawn over; a window without a drawing surface gives a context that draws nothing.
    DrawingContext GetDC();

    NativeWindow* Native() const { return native_; }

  protected:
    explicit Window(NativeWindow* native);
    void Attach(NativeWindow* native);

  private:
    NativeWindow* native_ = nullptr;
};

}  // namespace platform
