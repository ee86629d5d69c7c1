#include "platform/dialog.h"

#include <cstdio>
#include <functional>
#include <vector>

#include "platform/dialog_automation.h"
#include "platform/message_box.h"
#include "platform/module_instance.h"
#include "platform/win32/native_window.h"

namespace platform {

std::function<void(Dialog&)>& ModalHookSlot();
int& ModalRunCounter();

namespace {

// Posted to a dialog once it is shown, when its answer is automated.
constexpr UINT kAutomate = WM_APP + 1;

class ControlWindow : public Window {
  public:
    explicit ControlWindow(NativeWindow* native) : Window(native) {}
};

Point MousePoint(LPARAM lParam) {
    return Point{static_cast<int16_t>(LOWORD(lParam)), static_cast<int16_t>(HIWORD(lParam))};
}

HINSTANCE ModuleHandle() {
    const ModuleInstance* instance = CurrentModuleInstance();
    return instance != nullptr ? static_cast<HINSTANCE>(instance->handle) : nullptr;
}

}  // namespace

struct Dialog::Backend {
    std::vector<std::unique_ptr<Window>> controls;  // template order
    bool modal = false;

    static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR Dispatch(Dialog& dialog, HWND hwnd, UINT message, WPARAM wParam,
                            LPARAM lParam);
};

INT_PTR CALLBACK Dialog::Backend::Procedure(HWND hwnd, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        dialog->Attach(new NativeWindow{hwnd});
        // The direct children are the template's controls, in template order.
        for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            dialog->backend_->controls.push_back(
                std::make_unique<ControlWindow>(new NativeWindow{child}));
        }
        const bool focusDefault = dialog->OnInitDialog();
        if (dialog->endResult_ == 0 &&
            (ModalHookSlot() || CurrentDialogAnswer() != DialogAnswer::User)) {
            PostMessageA(hwnd, kAutomate, 0, 0);
        }
        return focusDefault ? TRUE : FALSE;
    }
    auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (dialog == nullptr) return FALSE;
    return Dispatch(*dialog, hwnd, message, wParam, lParam);
}

INT_PTR Dialog::Backend::Dispatch(Dialog& dialog, HWND hwnd, UINT message, WPARAM wParam,
                                  LPARAM lParam) {
    const auto flags = static_cast<uint32_t>(wParam);
    switch (message) {
        case kAutomate: {
            const std::function<void(Dialog&)> hook = ModalHookSlot();
            const DialogAnswer answer = CurrentDialogAnswer();
            if (hook) {
                hook(dialog);
            } else if (answer == DialogAnswer::Accept) {
                dialog.SendCommand(MAKEWPARAM(IDOK, BN_CLICKED));
            } else if (answer == DialogAnswer::Cancel) {
                dialog.SendCommand(MAKEWPARAM(IDCANCEL, BN_CLICKED));
            }
            return TRUE;
        }
        case WM_COMMAND:
            return dialog.OnCommand(static_cast<uint32_t>(wParam), static_cast<intptr_t>(lParam))
                       ? TRUE
                       : FALSE;
        case WM_PAINT: {
            // The dialog's own painting (its background, through the erase message), then
            // the handler, which draws on the panes.
            PAINTSTRUCT paint{};
            BeginPaint(hwnd, &paint);
            EndPaint(hwnd, &paint);
            dialog.OnPaint();
            return TRUE;
        }
        case WM_MOUSEMOVE: {
            // Ask for the leave message: the status line is cleared when the pointer goes.
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof track;
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = hwnd;
            TrackMouseEvent(&track);
            dialog.OnMouseMove(flags, MousePoint(lParam));
            return TRUE;
        }
        case WM_MOUSELEAVE:
            dialog.OnMouseLeave();
            return TRUE;
        case WM_MOUSEWHEEL: {
            // The wheel's point is on the screen; the handlers take the dialog's.
            POINT point{static_cast<int16_t>(LOWORD(lParam)), static_cast<int16_t>(HIWORD(lParam))};
            ::ScreenToClient(hwnd, &point);
            dialog.OnMouseWheel(GET_KEYSTATE_WPARAM(wParam), GET_WHEEL_DELTA_WPARAM(wParam),
                                Point{point.x, point.y});
            return TRUE;
        }
        case WM_LBUTTONDOWN:
            dialog.OnLButtonDown(flags, MousePoint(lParam));
            return TRUE;
        case WM_LBUTTONUP:
            dialog.OnLButtonUp(flags, MousePoint(lParam));
            return TRUE;
        case WM_LBUTTONDBLCLK:
            dialog.OnLButtonDblClk(flags, MousePoint(lParam));
            return TRUE;
        case WM_RBUTTONDOWN:
            dialog.OnRButtonDown(flags, MousePoint(lParam));
            return TRUE;
        case WM_SETCURSOR:
            if (!dialog.OnSetCursor()) return FALSE;
            SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_NCDESTROY:
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            return FALSE;
        default:
            return FALSE;
    }
}

Dialog::Dialog(uint16_t templateId, Window* parent)
    : Window(nullptr), templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() { Destroy(); }

bool Dialog::Build() {
    Destroy();
    HINSTANCE module = ModuleHandle();
    if (module == nullptr || FindResourceA(module, MAKEINTRESOURCEA(templateId_), MAKEINTRESOURCEA(5)) == nullptr ||
        !EnsureWindowingSystem()) {
        return false;
    }
    backend_ = std::make_unique<Backend>();
    endResult_ = 0;
    return true;
}

void Dialog::Destroy() {
    if (!backend_) return;
    HWND hwnd = HwndOf(this);
    if (hwnd != nullptr && IsWindow(hwnd)) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        DestroyWindow(hwnd);
    }
    backend_->controls.clear();
    Attach(nullptr);
}

int Dialog::DoModal() {
    if (!Build()) return -1;
    ++ModalRunCounter();
    backend_->modal = true;
    const INT_PTR ended =
        DialogBoxParamA(ModuleHandle(), MAKEINTRESOURCEA(templateId_), HwndOf(parent_),
                        &Backend::Procedure, reinterpret_cast<LPARAM>(this));
    if (ended == -1 && endResult_ == 0) {
        std::fprintf(stderr, "The dialog %u could not be shown (error %lu).\n", templateId_,
                     static_cast<unsigned long>(GetLastError()));
        Destroy();
        return -1;
    }
    const int result = endResult_ != 0 ? endResult_ : static_cast<int>(ended);
    Destroy();
    return result;
}

bool Dialog::Create() {
    if (!Build()) return false;
    backend_->modal = false;
    HWND hwnd = CreateDialogParamA(ModuleHandle(), MAKEINTRESOURCEA(templateId_), HwndOf(parent_),
                                   &Backend::Procedure, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr) return false;
    ShowWindow(hwnd, SW_SHOW);
    return true;
}

void Dialog::EndDialog(int result) {
    endResult_ = result;
    HWND hwnd = HwndOf(this);
    if (!backend_ || hwnd == nullptr) return;
    if (backend_->modal) {
        ::EndDialog(hwnd, result);
    } else {
        ShowWindow(hwnd, SW_HIDE);
    }
}

Window* Dialog::GetDlgItem(int32_t id) {
    if (!backend_) return nullptr;
    for (const auto& control : backend_->controls) {
        if (control->GetDlgCtrlID() == id && control->IsValid()) return control.get();
    }
    return nullptr;
}

namespace {

LRESULT SendToItem(Dialog* dialog, int32_t id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND item = HwndOf(dialog->GetDlgItem(id));
    return item != nullptr ? SendMessageA(item, message, wParam, lParam) : CB_ERR;
}

}  // namespace

int Dialog::ComboAddString(int32_t id, const std::string& text) {
    return static_cast<int>(
        SendToItem(this, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int Dialog::ComboSetCurSel(int32_t id, int index) {
    const LRESULT selected = SendToItem(this, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

int Dialog::ComboGetCurSel(int32_t id) {
    const LRESULT selected = SendToItem(this, id, CB_GETCURSEL, 0, 0);
    return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

int Dialog::ComboGetCount(int32_t id) {
    const LRESULT count = SendToItem(this, id, CB_GETCOUNT, 0, 0);
    return count == CB_ERR ? 0 : static_cast<int>(count);
}

std::string Dialog::ComboGetItemText(int32_t id, int index) {
    const LRESULT length = SendToItem(this, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length < 0) return {};
    std::vector<char> text(size_t(length) + 1, '\0');
    SendToItem(this, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
    return std::string(text.data());
}

int32_t Dialog::ControlFromPoint(Point clientPoint, bool skipTransparent) {
    HWND hwnd = HwndOf(this);
    if (hwnd == nullptr) return 0;
    const POINT point{clientPoint.x, clientPoint.y};
    HWND child = ChildWindowFromPointEx(hwnd, point, skipTransparent ? CWP_SKIPTRANSPARENT : CWP_ALL);
    if (child == nullptr || child == hwnd) return 0;
    return static_cast<int16_t>(::GetDlgCtrlID(child));
}

void Dialog::AddExStyle(uint32_t exStyle) {
    HWND hwnd = HwndOf(this);
    if (hwnd == nullptr) return;
    if (exStyle & WS_EX_TOPMOST) {
        // The topmost style is changed through the window's place in the z-order.
        SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        exStyle &= ~WS_EX_TOPMOST;
    }
    if (exStyle != 0) {
        const LONG current = GetWindowLongA(hwnd, GWL_EXSTYLE);
        SetWindowLongA(hwnd, GWL_EXSTYLE, current | static_cast<LONG>(exStyle));
    }
}

void Dialog::SetIcon(void* icon, bool big) {
    (big ? bigIcon_ : smallIcon_) = icon;
    if (HWND hwnd = HwndOf(this)) {
        SendMessageA(hwnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
}

}  // namespace platform
