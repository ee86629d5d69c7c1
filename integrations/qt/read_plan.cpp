#include "read_plan.h"

#include <cstdint>

namespace kavel_qt {

namespace {

// floor(value / 2^scale) and ceil(value / 2^scale) for value >= 0.
int floor_at(int value, int scale) { return value >> scale; }
int ceil_at(int value, int scale) {
    return static_cast<int>((int64_t{value} + (int64_t{1} << scale) - 1) >> scale);
}

}  // namespace

ReadPlan plan_read(QSize image_size, int levels, QRect clip, QSize scaled, int scale_for_whole) {
    ReadPlan plan;
    plan.output = scaled.isValid() && !scaled.isEmpty() ? scaled : clip.size();
    if (clip == QRect(QPoint(0, 0), image_size)) {
        plan.scale = scale_for_whole;
    } else {
        // The clip spans clip.width() / 2^s pixels at scale s (scales above 30 span no pixel).
        while (plan.scale < levels && plan.scale < 30 &&
               int64_t{plan.output.width()} << (plan.scale + 1) <= clip.width() &&
               int64_t{plan.output.height()} << (plan.scale + 1) <= clip.height()) {
            ++plan.scale;
        }
    }
    const int s = plan.scale;
    // Every pixel at scale s that the clip touches; the last column ends at the clip's right
    // edge (x + width), rounded up.
    const int x0 = floor_at(clip.x(), s);
    const int y0 = floor_at(clip.y(), s);
    const int x1 = ceil_at(clip.x() + clip.width(), s) - 1;
    const int y1 = ceil_at(clip.y() + clip.height(), s) - 1;
    plan.window = QRect(QPoint(x0, y0), QPoint(x1, y1));
    const double unit = static_cast<double>(int64_t{1} << s);
    plan.source = QRectF(clip.x() / unit - x0, clip.y() / unit - y0, clip.width() / unit,
                         clip.height() / unit);
    if (clip == QRect(QPoint(0, 0), image_size)) {
        // The whole image at scale s: its last column may stand for fewer than 2^s columns.
        plan.source = QRectF(QPointF(0, 0), QSizeF(plan.window.size()));
    }
    return plan;
}

}  // namespace kavel_qt
