// A popup menu shown at a point; the chosen item reaches the owner dialog as a command.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace platform {

class Dialog;

constexpr uint32_t MF_STRING = 0x0u;
constexpr uint32_t MF_CHECKED = 0x8u;
constexpr uint32_t TPM_RIGHTBUTTON = 0x2u;

struct MenuItem {
    std::string text;
    uint32_t id = 0;
    bool checked = false;
};

class PopupMenu {
  public:
    void AppendMenu(uint32_t flags, uint32_t id, const std::string& text);
    const std::vector<MenuItem>& Items() const { return items_; }
    // Shows the menu at screen point and waits until it closes; the chosen item is sent to
    // owner as a command. Returns the chosen id, 0 when none was chosen. Without a screen
    // the menu closes at once unless a hook answers.
    uint32_t TrackPopupMenu(uint32_t flags, Point screenPoint, Dialog& owner);

  private:
    std::vector<MenuItem> items_;
};

// Answers popup menus in place of the user (tests): given the items, returns the id to
// choose or 0. Null removes it.
void SetPopupMenuHook(std::function<uint32_t(const std::vector<MenuItem>&)> hook);
// For the back ends: the hook's answer for items (*answered false when no hook is set).
uint32_t AnswerFromPopupMenuHook(const std::vector<MenuItem>& items, bool* answered);

}  // namespace platform
