#include "viewer/box_drawing.h"

#include <cmath>

#include "platform/drawing_context.h"

void OutlineRect(platform::DrawingContext& dc, int32_t left, int32_t top, int32_t right,
                 int32_t bottom) {
    dc.MoveTo(left, top);
    dc.LineTo(right, top);
    dc.LineTo(right, bottom);
    dc.LineTo(left, bottom);
    dc.LineTo(left, top);
}

void DashedLine(platform::DrawingContext& dc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                int32_t d) {
    if (d <= 0) return;
    const int64_t stepX = x2 > x1 ? d : (x2 < x1 ? -int64_t(d) : 0);
    const int64_t stepY = y2 > y1 ? d : (y2 < y1 ? -int64_t(d) : 0);
    const double dx = double(x2) - x1;
    const double dy = double(y2) - y1;
    const auto n = static_cast<int64_t>(std::sqrt(dx * dx + dy * dy)) / d;
    for (int64_t i = 0; i < n; i += 2) {
        dc.MoveTo(static_cast<int32_t>(x1 + i * stepX), static_cast<int32_t>(y1 + i * stepY));
        dc.LineTo(static_cast<int32_t>(x1 + (i + 1) * stepX),
                  static_cast<int32_t>(y1 + (i + 1) * stepY));
    }
}

void DashedRect(platform::DrawingContext& dc, int32_t left, int32_t top, int32_t right,
                int32_t bottom) {
    constexpr int32_t kDash = 3;
    DashedLine(dc, left, top, right, top, kDash);
    DashedLine(dc, right, top, right, bottom, kDash);
    DashedLine(dc, right, bottom, left, bottom, kDash);
    DashedLine(dc, left, bottom, left, top, kDash);
}
