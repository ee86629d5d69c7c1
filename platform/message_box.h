// Message boxes and the default beep.
//
// Without a screen the user could see (see IsHeadless), and whenever the dialog answers are
// automated (see dialog_automation.h), a message box does not wait: its caption and text go
// to the standard error and it returns IDOK at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class Window;

constexpr uint32_t MB_OK = 0x0u;
constexpr uint32_t MB_ICONERROR = 0x10u;
constexpr uint32_t MB_ICONQUESTION = 0x20u;
constexpr uint32_t MB_ICONWARNING = 0x30u;
constexpr uint32_t MB_ICONINFORMATION = 0x40u;
constexpr uint32_t MB_ICONMASK = 0xF0u;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Shows a message box owned by owner (a native window handle, or null) and returns the id
// of the button that closed it.
int ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t style);

// The framework's message box: the application's title as caption, and the warning icon
// when style names no icon.
int AppMessageBox(const char* text, uint32_t style);

// The system's default beep.
void MessageBeep(uint32_t type);

// What was shown and sounded in this process, oldest first (for the host's log and tests).
struct ShownMessageBox {
    std::string text;
    std::string caption;
    uint32_t style = 0;
};
const std::vector<ShownMessageBox>& ShownMessageBoxes();
// For the back ends: every box shown and every beep is recorded through these.
void RecordMessageBox(const char* text, const char* caption, uint32_t style);
void RecordBeep();
int BeepCount();
void ClearMessageLog();

}  // namespace platform
