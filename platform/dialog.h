// A dialog built from a dialog template of the module's resources, run modally until it ends
// with a command id (1 for OK, 2 for Cancel; the Escape key and the close box give Cancel).
//
// Mouse messages: labels, frames and group boxes do not take the mouse, so every mouse move,
// click and double-click over them (the panes included) reaches the dialog, in the dialog's
// client coordinates. Buttons, edit fields and combo boxes keep their own mouse.
//
// Commands: a clicked button, a changed combo box selection or an edited field calls
// OnCommand with MAKEWPARAM(control id, notification code). The base OnCommand ends the
// dialog for OK and Cancel and passes everything else to OnControlNotify.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/cursor.h"
#include "platform/window.h"

namespace platform {

struct DialogTemplate;
struct ModuleInstance;

// Key and button state of a mouse message.
constexpr uint32_t MK_LBUTTON = 0x1u;
constexpr uint32_t MK_RBUTTON = 0x2u;
constexpr uint32_t MK_SHIFT = 0x4u;
constexpr uint32_t MK_CONTROL = 0x8u;

// Notification codes.
constexpr uint16_t BN_CLICKED = 0;
constexpr uint16_t CBN_SELCHANGE = 1;
constexpr uint16_t EN_CHANGE = 0x300;

constexpr uint32_t MAKEWPARAM(int32_t id, uint16_t code) {
    return (static_cast<uint32_t>(id) & 0xFFFFu) | (static_cast<uint32_t>(code) << 16);
}
constexpr int32_t LowWord(uint32_t value) { return static_cast<int32_t>(value & 0xFFFFu); }
constexpr uint16_t HighWord(uint32_t value) { return static_cast<uint16_t>(value >> 16); }

class Dialog : public Window {
  public:
    // The template is looked up in the current module's resources when the dialog starts.
    Dialog(uint16_t templateId, Window* parent);
    ~Dialog() override;

    // Builds the dialog, initialises it and runs it until it ends; returns the ending
    // command id, or -1 when the dialog cannot be built (no template, no windowing system).
    // Without a screen and without an automated answer (dialog_automation.h) the dialog is
    // not shown: a note goes to the standard error and the result is IDCANCEL.
    int DoModal();
    // Builds, initialises and shows the dialog without a modal loop; false when it cannot be
    // built. EndDialog then only hides it.
    bool Create();
    void EndDialog(int result);
    // The id the dialog ended with, or 0 while it runs.
    int EndResult() const { return endResult_; }

    // The control with this id, or null.
    Window* GetDlgItem(int32_t id);
    void SetDlgItemText(int32_t id, const std::string& text);
    std::string GetDlgItemText(int32_t id);
    // Writes value as "%d" and repaints the control at once.
    void SetDlgItemInt(int32_t id, int32_t value);
    // The control's text as the runtime's atoi reads it: empty or non-numeric text gives 0.
    int32_t GetDlgItemInt(int32_t id);

    // Combo box lists.
    int ComboAddString(int32_t id, const std::string& text);
    // Selects entry index; an index outside the list clears the selection. Returns the
    // index, or -1 when the selection was cleared.
    int ComboSetCurSel(int32_t id, int index);
    int ComboGetCurSel(int32_t id);
    int ComboGetCount(int32_t id);
    std::string ComboGetItemText(int32_t id, int index);

    // The id of the control under point (client coordinates), skipping controls with the
    // transparent extended style when asked; 0 when there is none.
    int32_t ControlFromPoint(Point clientPoint, bool skipTransparent);

    void AddExStyle(uint32_t exStyle);
    void SetIcon(void* icon, bool big);
    void* GetIcon(bool big) const { return big ? bigIcon_ : smallIcon_; }

    // Sends a command as if a control had sent it.
    bool SendCommand(uint32_t wParam) { return OnCommand(wParam, 0); }

    // Handlers. The defaults do what the framework's dialog does.
    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual bool OnCommand(uint32_t wParam, intptr_t lParam);
    // One entry of the dialog's message table; false when the dialog has none for it.
    virtual bool OnControlNotify(int32_t id, uint16_t code);
    virtual void DoDataExchange();
    // Called after the dialog itself has been painted (not after a repaint of one control).
    virtual void OnPaint();
    virtual void OnMouseMove(uint32_t flags, Point point);
    virtual void OnLButtonDown(uint32_t flags, Point point);
    virtual void OnLButtonUp(uint32_t flags, Point point);
    virtual void OnLButtonDblClk(uint32_t flags, Point point);
    virtual void OnRButtonDown(uint32_t flags, Point point);
    // The wheel turned by delta (120 a notch, positive away from the user) with the pointer
    // at point (client coordinates).
    virtual void OnMouseWheel(uint32_t flags, int32_t delta, Point point);
    // The pointer has left the dialog's own area: out of the window, or onto a control that
    // takes the mouse itself.
    virtual void OnMouseLeave();
    // Asks which pointer to show over the dialog or one of its controls; true when the
    // handler chose one with SetCursor, false for the default pointer.
    virtual bool OnSetCursor();

    // Used by the windowing backend.
    struct Backend;
    Backend* GetBackend() const { return backend_.get(); }

  private:
    bool Build();
    void Destroy();

    uint16_t templateId_;
    Window* parent_;
    int endResult_ = 0;
    void* bigIcon_ = nullptr;
    void* smallIcon_ = nullptr;
    std::unique_ptr<Backend> backend_;
};

}  // namespace platform
