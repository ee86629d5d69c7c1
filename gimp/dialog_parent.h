// The Qt application that the module's viewer dialog runs in, inside the GIMP plug-in: made
// here before the module is loaded (the module then uses it instead of making its own), so that
// every window the module shows can be kept above GIMP's window.
#pragma once

#include <cstdint>
#include <memory>

class DialogParent {
  public:
    // parentWindow: the X11 window to stay above (0: none). Without a display nothing is made
    // and the module decides for itself.
    explicit DialogParent(uint32_t parentWindow);
    ~DialogParent();
    DialogParent(const DialogParent&) = delete;
    DialogParent& operator=(const DialogParent&) = delete;

  private:
    struct State;
    std::unique_ptr<State> state_;
};
