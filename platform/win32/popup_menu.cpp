#include "platform/popup_menu.h"

#include "platform/dialog.h"
#include "platform/dialog_automation.h"
#include "platform/win32/native_window.h"

namespace platform {

uint32_t PopupMenu::TrackPopupMenu(uint32_t flags, Point screenPoint, Dialog& owner) {
    bool answered = false;
    uint32_t chosen = AnswerFromPopupMenuHook(items_, &answered);
    if (!answered && CurrentDialogAnswer() == DialogAnswer::User) {
        HMENU menu = CreatePopupMenu();
        if (menu == nullptr) return 0;
        for (const MenuItem& item : items_) {
            AppendMenuA(menu, MF_STRING | (item.checked ? MF_CHECKED : 0u), item.id,
                        item.text.c_str());
        }
        // The menu's choice comes back here rather than as a posted command, so that it
        // reaches the owner before this returns.
        chosen = static_cast<uint32_t>(::TrackPopupMenu(menu, flags | TPM_RETURNCMD, screenPoint.x,
                                                        screenPoint.y, 0, HwndOf(&owner), nullptr));
        DestroyMenu(menu);
    }
    if (chosen != 0) owner.SendCommand(chosen);
    return chosen;
}

}  // namespace platform
