#include "platform/dialog_automation.h"

#include <cstdlib>
#include <cstring>
#include <optional>

namespace platform {
namespace {

std::optional<DialogAnswer>& SetAnswer() {
    static std::optional<DialogAnswer> answer;
    return answer;
}

}  // namespace

std::function<void(Dialog&)>& ModalHookSlot() {
    static std::function<void(Dialog&)> hook;
    return hook;
}

int& ModalRunCounter() {
    static int count = 0;
    return count;
}

void SetDialogAnswer(DialogAnswer answer) { SetAnswer() = answer; }

DialogAnswer CurrentDialogAnswer() {
    if (SetAnswer()) return *SetAnswer();
    const char* value = std::getenv("KAVEL_DIALOG_ANSWER");
    if (value == nullptr) return DialogAnswer::User;
    if (std::strcmp(value, "accept") == 0) return DialogAnswer::Accept;
    if (std::strcmp(value, "cancel") == 0) return DialogAnswer::Cancel;
    if (std::strcmp(value, "driven") == 0) return DialogAnswer::Driven;
    return DialogAnswer::User;
}

void SetModalHook(std::function<void(Dialog&)> hook) { ModalHookSlot() = std::move(hook); }

int ModalRunCount() { return ModalRunCounter(); }

}  // namespace platform
