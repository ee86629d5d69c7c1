#include "platform/message_box.h"

#include "platform/win32/windows_api.h"

#include <cstdio>

#include "platform/application.h"
#include "platform/dialog_automation.h"
#include "platform/module_instance.h"

namespace platform {
namespace {

std::vector<ShownMessageBox>& Log() {
    static std::vector<ShownMessageBox> log;
    return log;
}

int& Beeps() {
    static int count = 0;
    return count;
}

}  // namespace

int ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
    const char* safeText = text != nullptr ? text : "";
    const char* safeCaption = caption != nullptr ? caption : "";
    Log().push_back(ShownMessageBox{safeText, safeCaption, style});
    if (CurrentDialogAnswer() != DialogAnswer::User || IsHeadless()) {
        std::printf("%s: %s\n", safeCaption, safeText);
        std::fflush(stdout);
        return IDOK;
    }
    HWND window = static_cast<HWND>(owner);
    if (window != nullptr && !IsWindow(window)) window = nullptr;
    const int answer = MessageBoxA(window, safeText, safeCaption, style);
    return answer != 0 ? answer : IDOK;
}

int AppMessageBox(const char* text, uint32_t style) {
    if ((style & MB_ICONMASK) == 0) style |= MB_ICONWARNING;
    const Application title;
    return ShowMessageBox(nullptr, text, title.AppTitle().c_str(), style);
}

void MessageBeep(uint32_t type) {
    ++Beeps();
    ::MessageBeep(type);
}

const std::vector<ShownMessageBox>& ShownMessageBoxes() { return Log(); }

int BeepCount() { return Beeps(); }

void ClearMessageLog() {
    Log().clear();
    Beeps() = 0;
}

}  // namespace platform
