// What every dialog does whatever draws it: its controls' texts and numbers, and the default
// handlers of its messages.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/dialog.h"
#include "platform/message_box.h"

namespace platform {

void Dialog::SetDlgItemText(int32_t id, const std::string& text) {
    if (Window* control = GetDlgItem(id)) control->SetWindowText(text);
}

std::string Dialog::GetDlgItemText(int32_t id) {
    Window* control = GetDlgItem(id);
    return control != nullptr ? control->GetWindowText() : std::string();
}

void Dialog::SetDlgItemInt(int32_t id, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    if (Window* control = GetDlgItem(id)) {
        control->SetWindowText(text);
        control->UpdateWindow();
    }
}

int32_t Dialog::GetDlgItemInt(int32_t id) {
    // atoi's reading, without its undefined result for numbers beyond the int range:
    // those saturate.
    const std::string text = GetDlgItemText(id);
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool Dialog::OnInitDialog() { return true; }

void Dialog::OnOK() { EndDialog(IDOK); }

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

bool Dialog::OnCommand(uint32_t wParam, intptr_t /*lParam*/) {
    const int32_t id = LowWord(wParam);
    const uint16_t code = HighWord(wParam);
    if (code == BN_CLICKED && id == IDOK) {
        OnOK();
        return true;
    }
    if (code == BN_CLICKED && id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return OnControlNotify(id, code);
}

bool Dialog::OnControlNotify(int32_t /*id*/, uint16_t /*code*/) { return false; }
void Dialog::DoDataExchange() {}
void Dialog::OnPaint() {}
void Dialog::OnMouseMove(uint32_t, Point) {}
void Dialog::OnLButtonDown(uint32_t, Point) {}
void Dialog::OnLButtonUp(uint32_t, Point) {}
void Dialog::OnLButtonDblClk(uint32_t, Point) {}
void Dialog::OnRButtonDown(uint32_t, Point) {}
void Dialog::OnMouseWheel(uint32_t, int32_t, Point) {}
void Dialog::OnMouseLeave() {}
bool Dialog::OnSetCursor() { return false; }

}  // namespace platform
