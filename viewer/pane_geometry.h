// Where a picture goes in a pane: fitted to the pane without distortion, centred, with the
// conversions between picture pixels, pane pixels and screen points.
#pragma once

#include <cstdint>

#include "platform/geometry.h"

namespace platform {
class Window;
class DrawingContext;
}  // namespace platform

class PaneGeometry {
  public:
    PaneGeometry() = default;

    // Fits source (the picture's pixel rectangle) into paneRect (the pane's client
    // rectangle) and centres it. An empty source or pane leaves the scale at 1.
    void SetUp(platform::Window* window, const platform::Rect& paneRect,
               const platform::Rect& sourceRect);

    platform::Point PaneToSource(int32_t x, int32_t y) const;
    platform::Point SourceToPane(int32_t x, int32_t y) const;
    int32_t SourceLengthToPane(int32_t length) const;
    // Where the picture lies in the pane.
    platform::Rect DisplayedRect() const;

    const platform::Rect& SourceRect() const { return source_; }
    const platform::Rect& FitRect() const { return fit_; }
    const platform::Rect& PaneRect() const { return pane_; }
    platform::Point Offset() const { return offset_; }
    // Picture pixels per pane pixel.
    double Scale() const { return scale_; }
    platform::Window* GetWindow() const { return window_; }

    // Through the pane's window; without a window the point comes back unchanged.
    platform::Point ScreenToPane(platform::Point point) const;
    platform::Point PaneToScreen(platform::Point point) const;
    platform::Rect PaneToScreenRect(const platform::Rect& rect) const;
    // The pane's window rectangle on the screen; all zero without a window.
    platform::Rect WindowScreenRect() const;
    // A drawing context on the pane; an invalid one without a window.
    platform::DrawingContext DrawingContext() const;

  private:
    platform::Window* window_ = nullptr;
    platform::Rect source_{};
    platform::Rect fit_{};
    platform::Rect pane_{};
    platform::Point offset_{};
    double scale_ = 1.0;
};

// trunc(value) as a 32-bit integer, saturating beyond the range (NaN gives 0).
int32_t TruncateToInt32(double value);
