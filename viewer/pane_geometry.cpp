#include "viewer/pane_geometry.h"

#include <algorithm>
#include <cmath>

#include "platform/window.h"

int32_t TruncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(value);
}

void PaneGeometry::SetUp(platform::Window* window, const platform::Rect& paneRect,
                         const platform::Rect& sourceRect) {
    window_ = window;
    fit_ = paneRect;
    pane_ = paneRect;
    source_ = sourceRect;
    const double w = double(source_.right) - source_.left;
    const double h = double(source_.bottom) - source_.top;
    scale_ = 1.0;
    // Fit: the scale is the picture's longer side over the matching pane side.
    if (w > 0 && h > 0) {
        if (h < w) {
            fit_.bottom = TruncateToInt32(h / w * fit_.bottom);
            if (fit_.right > 0) scale_ = w / fit_.right;
        } else if (h > w) {
            fit_.right = TruncateToInt32(w / h * fit_.right);
            if (fit_.bottom > 0) scale_ = h / fit_.bottom;
        } else {
            const int32_t side = std::min(fit_.right, fit_.bottom);
            fit_.right = side;
            fit_.bottom = side;
            if (side > 0) scale_ = w / side;
        }
    }
    // Centring.
    offset_.x =
        TruncateToInt32((double(pane_.right) - TruncateToInt32(w / scale_) - pane_.left) / 2);
    offset_.y =
        TruncateToInt32((double(pane_.bottom) - TruncateToInt32(h / scale_) - pane_.top) / 2);
}

platform::Point PaneGeometry::PaneToSource(int32_t x, int32_t y) const {
    return {TruncateToInt32((double(x) - offset_.x) * scale_),
            TruncateToInt32((double(y) - offset_.y) * scale_)};
}

platform::Point PaneGeometry::SourceToPane(int32_t x, int32_t y) const {
    return {TruncateToInt32(double(offset_.x) + TruncateToInt32(x / scale_)),
            TruncateToInt32(double(offset_.y) + TruncateToInt32(y / scale_))};
}

int32_t PaneGeometry::SourceLengthToPane(int32_t length) const {
    return TruncateToInt32(length / scale_);
}

platform::Rect PaneGeometry::DisplayedRect() const {
    const double w = double(source_.right) - source_.left;
    const double h = double(source_.bottom) - source_.top;
    return {offset_.x, offset_.y, TruncateToInt32(offset_.x + double(TruncateToInt32(w / scale_))),
            TruncateToInt32(offset_.y + double(TruncateToInt32(h / scale_)))};
}

platform::Point PaneGeometry::ScreenToPane(platform::Point point) const {
    return window_ != nullptr ? window_->ScreenToClient(point) : point;
}

platform::Point PaneGeometry::PaneToScreen(platform::Point point) const {
    return window_ != nullptr ? window_->ClientToScreen(point) : point;
}

platform::Rect PaneGeometry::PaneToScreenRect(const platform::Rect& rect) const {
    const platform::Point topLeft = PaneToScreen({rect.left, rect.top});
    const platform::Point bottomRight = PaneToScreen({rect.right, rect.bottom});
    return {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

platform::Rect PaneGeometry::WindowScreenRect() const {
    return window_ != nullptr ? window_->GetWindowRect() : platform::Rect{};
}

platform::DrawingContext PaneGeometry::DrawingContext() const {
    return window_ != nullptr ? window_->GetDC() : platform::DrawingContext();
}
