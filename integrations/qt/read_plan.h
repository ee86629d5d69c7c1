// What a QImageReader request (clip rectangle, scaled size) decodes: the scale, the window at
// that scale, and what is left to resample. Plain arithmetic, no Qt painting.
#pragma once

#include <QRect>
#include <QRectF>
#include <QSize>

namespace kavel_qt {

struct ReadPlan {
    int scale = 0;  // decode at 1 : 2^scale
    QRect window;   // pixels at that scale (inside the image at that scale)
    QRectF source;  // the clip in pixels of the decoded window (may be fractional)
    QSize output;   // the size of the image handed back
    // True when the decoded window is the output as it is (no resampling, no cropping).
    bool exact() const {
        return source == QRectF(QPointF(0, 0), QSizeF(window.size())) && output == window.size();
    }
};

// clip: the part of the image asked for, in full-size pixels, already inside the image (the whole
// image when nothing was asked). scaled: the size asked for (invalid or empty: the clip's size).
// scale_for_whole: the scale to use when the clip is the whole image (the library's coarsest
// scale at least as large as the scaled size). A clip is decoded at the coarsest scale, at most
// levels, at which it still spans at least the scaled size.
ReadPlan plan_read(QSize image_size, int levels, QRect clip, QSize scaled, int scale_for_whole);

}  // namespace kavel_qt
