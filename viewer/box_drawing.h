// The outlines the full view draws its boxes with, on a pane's drawing context with the pen
// and raster operation selected there. Lines include their first point and leave out their
// last.
#pragma once

#include <cstdint>

namespace platform {
class DrawingContext;
}

// From (left, top) to (right, top), (right, bottom), (left, bottom) and back to (left, top).
void OutlineRect(platform::DrawingContext& dc, int32_t left, int32_t top, int32_t right,
                 int32_t bottom);

// An axis-parallel line drawn as dashes of d pixels with gaps of d, starting at (x1, y1): the
// length (truncated) divided by d gives n steps, and the even steps i = 0, 2, 4, ... below n
// are drawn from step i to step i + 1.
void DashedLine(platform::DrawingContext& dc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                int32_t d);

// The four edges clockwise from (left, top), each dashed in threes from its first corner.
void DashedRect(platform::DrawingContext& dc, int32_t left, int32_t top, int32_t right,
                int32_t bottom);
