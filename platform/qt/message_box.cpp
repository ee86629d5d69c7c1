#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "platform/application.h"
#include "platform/dialog_automation.h"
#include "platform/module_instance.h"

namespace platform {
namespace {

QMessageBox::Icon IconFor(uint32_t style) {
    switch (style & MB_ICONMASK) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

int ShowMessageBox(void* /*owner*/, const char* text, const char* caption, uint32_t style) {
    // The owner handle comes from the host and is not a window of ours: the box is shown
    // application-modal without a parent instead.
    const char* safeText = text != nullptr ? text : "";
    const char* safeCaption = caption != nullptr ? caption : "";
    RecordMessageBox(safeText, safeCaption, style);
    if (CurrentDialogAnswer() != DialogAnswer::User || !EnsureWindowingSystem() || IsHeadless()) {
        // Without a box the message goes where a host's messages go: the standard error.
        std::fprintf(stderr, "%s: %s\n", safeCaption, safeText);
        return IDOK;
    }
    QMessageBox box(IconFor(style), QString::fromLocal8Bit(safeCaption),
                    QString::fromLocal8Bit(safeText), QMessageBox::Ok);
    box.exec();
    return IDOK;
}

void MessageBeep(uint32_t /*type*/) {
    RecordBeep();
    if (EnsureWindowingSystem() && !IsHeadless()) QApplication::beep();
}

}  // namespace platform
