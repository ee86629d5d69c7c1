// What every back end keeps the same way: the log of message boxes and beeps, the framework's
// message box, the popup menu's items and the hook that answers menus in place of the user.
#include "platform/application.h"
#include "platform/message_box.h"
#include "platform/popup_menu.h"

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

std::function<uint32_t(const std::vector<MenuItem>&)>& Hook() {
    static std::function<uint32_t(const std::vector<MenuItem>&)> hook;
    return hook;
}

}  // namespace

void RecordMessageBox(const char* text, const char* caption, uint32_t style) {
    Log().push_back(ShownMessageBox{text, caption, style});
}

void RecordBeep() { ++Beeps(); }

const std::vector<ShownMessageBox>& ShownMessageBoxes() { return Log(); }

int BeepCount() { return Beeps(); }

void ClearMessageLog() {
    Log().clear();
    Beeps() = 0;
}

int AppMessageBox(const char* text, uint32_t style) {
    if ((style & MB_ICONMASK) == 0) style |= MB_ICONWARNING;
    const Application title;
    return ShowMessageBox(nullptr, text, title.AppTitle().c_str(), style);
}

void SetPopupMenuHook(std::function<uint32_t(const std::vector<MenuItem>&)> hook) {
    Hook() = std::move(hook);
}

uint32_t AnswerFromPopupMenuHook(const std::vector<MenuItem>& items, bool* answered) {
    *answered = static_cast<bool>(Hook());
    return *answered ? Hook()(items) : 0;
}

void PopupMenu::AppendMenu(uint32_t flags, uint32_t id, const std::string& text) {
    items_.push_back(MenuItem{text, id, (flags & MF_CHECKED) != 0});
}

}  // namespace platform
