#include "platform/popup_menu.h"

#include <QAction>
#include <QMenu>

#include "platform/dialog.h"
#include "platform/dialog_automation.h"
#include "platform/module_instance.h"
#include "platform/qt/native_window.h"

namespace platform {

uint32_t PopupMenu::TrackPopupMenu(uint32_t /*flags*/, Point screenPoint, Dialog& owner) {
    bool answered = false;
    uint32_t chosen = AnswerFromPopupMenuHook(items_, &answered);
    if (!answered && EnsureWindowingSystem() && !IsHeadless() &&
        CurrentDialogAnswer() == DialogAnswer::User) {
        QMenu menu(WidgetOf(&owner));
        for (const MenuItem& item : items_) {
            QAction* action = menu.addAction(QString::fromLocal8Bit(item.text.c_str()));
            action->setCheckable(item.checked);
            action->setChecked(item.checked);
            action->setData(item.id);
        }
        if (QAction* action = menu.exec(QPoint(screenPoint.x, screenPoint.y))) {
            chosen = action->data().toUInt();
        }
    }
    if (chosen != 0) owner.SendCommand(chosen);
    return chosen;
}

}  // namespace platform
