#include "platform/window.h"

#include <vector>

#include "platform/win32/native_window.h"

namespace platform {

Window::Window(NativeWindow* native) : native_(native) {}

Window::~Window() { delete native_; }

void Window::Attach(NativeWindow* native) {
    if (native_ != native) delete native_;
    native_ = native;
}

bool Window::IsValid() const {
    return native_ != nullptr && native_->hwnd != nullptr && IsWindow(native_->hwnd);
}

int32_t Window::GetDlgCtrlID() const {
    if (!IsValid()) return 0;
    // Labels carry the id -1, which the template stores as 0xFFFF.
    return static_cast<int16_t>(::GetDlgCtrlID(native_->hwnd));
}

uint32_t Window::GetExStyle() const {
    return IsValid() ? static_cast<uint32_t>(GetWindowLongA(native_->hwnd, GWL_EXSTYLE)) : 0;
}

void Window::SetWindowText(const std::string& text) {
    if (IsValid()) SetWindowTextA(native_->hwnd, text.c_str());
}

std::string Window::GetWindowText() const {
    if (!IsValid()) return {};
    const int length = GetWindowTextLengthA(native_->hwnd);
    if (length <= 0) return {};
    std::vector<char> text(size_t(length) + 1, '\0');
    const int got = GetWindowTextA(native_->hwnd, text.data(), length + 1);
    return std::string(text.data(), size_t(got > 0 ? got : 0));
}

void Window::EnableWindow(bool enable) {
    if (IsValid()) ::EnableWindow(native_->hwnd, enable ? TRUE : FALSE);
}

bool Window::IsWindowEnabled() const { return IsValid() && ::IsWindowEnabled(native_->hwnd); }

Rect Window::GetClientRect() const {
    RECT rect{};
    if (!IsValid() || !::GetClientRect(native_->hwnd, &rect)) return {};
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

Rect Window::GetWindowRect() const {
    RECT rect{};
    if (!IsValid() || !::GetWindowRect(native_->hwnd, &rect)) return {};
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

Point Window::ScreenToClient(Point point) const {
    if (!IsValid()) return point;
    POINT p{point.x, point.y};
    ::ScreenToClient(native_->hwnd, &p);
    return Point{p.x, p.y};
}

Point Window::ClientToScreen(Point point) const {
    if (!IsValid()) return point;
    POINT p{point.x, point.y};
    ::ClientToScreen(native_->hwnd, &p);
    return Point{p.x, p.y};
}

void Window::Invalidate(bool erase) {
    if (IsValid()) InvalidateRect(native_->hwnd, nullptr, erase ? TRUE : FALSE);
}

void Window::UpdateWindow() {
    if (IsValid()) ::UpdateWindow(native_->hwnd);
}

DrawingContext Window::GetDC() { return DrawingContext(IsValid() ? native_ : nullptr); }

HWND HwndOf(const Window* window) {
    if (window == nullptr || window->Native() == nullptr) return nullptr;
    return window->Native()->hwnd;
}

}  // namespace platform
