#include "platform/message_box.h"

#include <cstdio>

#include "platform/application.h"
#include "platform/dialog_automation.h"
#include "platform/module_instance.h"
#include "platform/win32/windows_api.h"

namespace platform {

int ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
    const char* safeText = text != nullptr ? text : "";
    const char* safeCaption = caption != nullptr ? caption : "";
    RecordMessageBox(safeText, safeCaption, style);
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

void MessageBeep(uint32_t type) {
    RecordBeep();
    ::MessageBeep(type);
}

}  // namespace platform
