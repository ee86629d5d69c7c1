// Opening Kavel files without the viewer dialog, through libkavel: the whole image, any window
// at any scale, and thumbnails.
#pragma once

#include <glib.h>

#include <cstdint>

// A window in pixels of the image at a scale; bounds inclusive, as the library takes them.
struct ScaledWindow {
    int32_t scale = 0;
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The whole image at full size as a new GIMP image, or -1 with *error set.
gint32 LoadWholeImage(const char* filename, GError** error);

// The window at its scale as a new GIMP image of (x1 - x0 + 1) x (y1 - y0 + 1) pixels; parts
// beyond the image are black. -1 with *error set when the scale or window is out of range or
// the file cannot be decoded.
gint32 LoadWindow(const char* filename, const ScaledWindow& window, GError** error);

struct Thumbnail {
    gint32 image = -1;
    int32_t width = 0, height = 0;  // of the image at full size
    int32_t planes = 0;
};

// The coarsest scale of the file whose longer side is at least size pixels (the full image
// when even that is smaller).
Thumbnail LoadThumbnail(const char* filename, int32_t size, GError** error);
