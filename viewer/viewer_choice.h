// What the viewer dialog starts from and what OK hands back, exchanged with whoever runs it
// (the plug-in's read cycle): the dialog never reaches for the application object itself.
#pragma once

#include <cstdint>

#include "platform/geometry.h"

class ImageFile;

struct ViewerChoice {
    // The image to show, borrowed; the dialog lowers its level count to the thumbnail scale.
    ImageFile* image = nullptr;
    // The ratio 1 : 2^scale to start at, and after OK the one chosen.
    int32_t scale = 2;
    // Pixels per inch to start at, and after OK the one chosen.
    int32_t resolution = 72;
    // Written by OK: the region to deliver in pixels of the chosen scale, right and bottom one
    // past it.
    platform::Rect output{};
};
