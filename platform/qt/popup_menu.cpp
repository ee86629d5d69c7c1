#include "platform/popup_menu.h"

#include <QAction>
#include <QMenu>

#include "platform/dialog.h"
#include "platform/dialog_automation.h"
#include "platform/module_instance.h"
#include "platform/qt/native_window.h"

namespace platform {
namespace {

std::function<uint32_t(const std::vector<MenuItem>&)>& Hook() {
    static std::function<uint32_t(const std::vector<MenuItem>&)> hook;
    return hook;
}

}  // namespace

void SetPopupMenuHook(std::function<uint32_t(const std::vector<MenuItem>&)> hook) {
    Hook() = std::move(hook);
}

void PopupMenu::AppendMenu(uint32_t flags, uint32_t id, const std::string& text) {
    items_.push_back(MenuItem{text, id, (flags & MF_CHECKED) != 0});
}

uint32_t PopupMenu::TrackPopupMenu(uint32_t /*flags*/, Point screenPoint, Dialog& owner) {
    uint32_t chosen = 0;
    if (Hook()) {
        chosen = Hook()(items_);
    } else if (EnsureWindowingSystem() && !IsHeadless() &&
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
