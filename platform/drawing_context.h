// Drawing on a window's surface with one-pixel pens, copy or exclusive-or, and copying
// bitmaps onto it.
//
// Lines include their first point and leave out their last, so that drawing the same outline
// twice in exclusive-or mode restores every pixel.
#pragma once

#include <cstdint>
#include <string>

#include "platform/geometry.h"

namespace platform {

struct NativeWindow;
class DibSection;

enum class RasterOp { CopyPen, XorPen };

class DrawingContext {
  public:
    DrawingContext() = default;
    explicit DrawingContext(NativeWindow* window);
    ~DrawingContext();
    DrawingContext(DrawingContext&& other) noexcept;
    DrawingContext& operator=(DrawingContext&& other) noexcept;
    DrawingContext(const DrawingContext&) = delete;
    DrawingContext& operator=(const DrawingContext&) = delete;

    // False when there is nothing to draw on.
    bool IsValid() const;
    // Shows what was drawn and lets the surface go; the destructor does it too.
    void Release();

    RasterOp SetRop2(RasterOp op);
    // Selects a solid pen one pixel wide; returns the colour of the previous pen.
    Colour SelectPen(Colour colour);
    void MoveTo(int32_t x, int32_t y);
    void LineTo(int32_t x, int32_t y);
    void FillSolidRect(const Rect& rect, Colour colour);
    // Writes text in the pen's colour, centred in rect and wrapped at word boundaries, in the
    // dialog font.
    void DrawText(const Rect& rect, const std::string& text);
    // Copies the whole bitmap with its top-left corner at (x, y), unscaled.
    void BitBlt(int32_t x, int32_t y, const DibSection& bitmap);
    // The colour at (x, y); black outside the surface.
    Colour GetPixel(int32_t x, int32_t y) const;

  private:
    void Plot(int32_t x, int32_t y);

    // The system's own drawing context and the pens selected into it, on platforms that
    // draw through one (null elsewhere).
    struct SystemContext {
        void* dc = nullptr;
        void* pen = nullptr;
        void* previousPen = nullptr;
    };

    NativeWindow* window_ = nullptr;
    SystemContext system_;
    RasterOp op_ = RasterOp::CopyPen;
    Colour pen_{};
    Point position_{};
    bool drew_ = false;
};

// The colour of button faces (and dialog backgrounds).
Colour ButtonFaceColour();

}  // namespace platform
