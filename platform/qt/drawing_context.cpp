#include "platform/drawing_context.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <cstdlib>
#include <utility>

#include "platform/dib_section.h"
#include "platform/qt/native_window.h"

namespace platform {
namespace {

uint32_t Rgb(Colour colour) {
    return uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 | colour.blue;
}

}  // namespace

DrawingContext::DrawingContext(NativeWindow* window) : window_(window) {}

DrawingContext::~DrawingContext() { Release(); }

DrawingContext::DrawingContext(DrawingContext&& other) noexcept { *this = std::move(other); }

DrawingContext& DrawingContext::operator=(DrawingContext&& other) noexcept {
    if (this != &other) {
        Release();
        window_ = std::exchange(other.window_, nullptr);
        op_ = other.op_;
        pen_ = other.pen_;
        position_ = other.position_;
        drew_ = std::exchange(other.drew_, false);
    }
    return *this;
}

bool DrawingContext::IsValid() const { return SurfaceOf(window_) != nullptr; }

void DrawingContext::Release() {
    if (window_ != nullptr && drew_ && window_->widget != nullptr) window_->widget->update();
    window_ = nullptr;
    drew_ = false;
}

RasterOp DrawingContext::SetRop2(RasterOp op) { return std::exchange(op_, op); }

Colour DrawingContext::SelectPen(Colour colour) { return std::exchange(pen_, colour); }

void DrawingContext::MoveTo(int32_t x, int32_t y) { position_ = Point{x, y}; }

void DrawingContext::Plot(int32_t x, int32_t y) {
    QImage* surface = SurfaceOf(window_);
    if (surface == nullptr || x < 0 || y < 0 || x >= surface->width() || y >= surface->height()) {
        return;
    }
    auto* row = reinterpret_cast<uint32_t*>(surface->scanLine(y));
    if (op_ == RasterOp::XorPen) {
        row[x] = 0xFF000000u | ((row[x] ^ Rgb(pen_)) & 0x00FFFFFFu);
    } else {
        row[x] = 0xFF000000u | Rgb(pen_);
    }
    drew_ = true;
}

void DrawingContext::LineTo(int32_t x, int32_t y) {
    QImage* surface = SurfaceOf(window_);
    if (surface != nullptr && (position_.x == x || position_.y == y)) {
        // Horizontal and vertical lines: only the part on the surface is walked.
        const bool horizontal = position_.y == y;
        const int64_t from = horizontal ? position_.x : position_.y;
        const int64_t to = horizontal ? x : y;
        const int64_t limit = horizontal ? surface->width() : surface->height();
        const int64_t low = std::max<int64_t>(std::min(from, to + (to < from ? 1 : 0)), 0);
        const int64_t high = std::min<int64_t>(std::max(from, to - (to > from ? 1 : 0)), limit - 1);
        for (int64_t i = low; i <= high && from != to; ++i) {
            if (horizontal) {
                Plot(static_cast<int32_t>(i), y);
            } else {
                Plot(x, static_cast<int32_t>(i));
            }
        }
        position_ = Point{x, y};
        return;
    }
    // Bresenham from the current position; the end point itself is left out.
    int64_t x0 = position_.x;
    int64_t y0 = position_.y;
    const int64_t dx = std::llabs(int64_t(x) - x0);
    const int64_t dy = -std::llabs(int64_t(y) - y0);
    const int64_t stepX = x0 < x ? 1 : -1;
    const int64_t stepY = y0 < y ? 1 : -1;
    int64_t error = dx + dy;
    // Nothing beyond a few surfaces' worth of pixels is ever visible; a line that long is
    // cut rather than walked.
    int64_t budget = 1 << 16;
    while ((x0 != x || y0 != y) && budget-- > 0) {
        Plot(static_cast<int32_t>(x0), static_cast<int32_t>(y0));
        const int64_t twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y0 += stepY;
        }
    }
    position_ = Point{x, y};
}

void DrawingContext::DrawText(const Rect& rect, const std::string& text) {
    QImage* surface = SurfaceOf(window_);
    if (surface == nullptr) return;
    QPainter painter(surface);
    if (window_->widget != nullptr) painter.setFont(window_->widget->font());
    painter.setPen(QColor(pen_.red, pen_.green, pen_.blue));
    painter.drawText(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top),
                     Qt::AlignCenter | Qt::TextWordWrap, QString::fromLocal8Bit(text.c_str()));
    drew_ = true;
}

void DrawingContext::FillSolidRect(const Rect& rect, Colour colour) {
    QImage* surface = SurfaceOf(window_);
    if (surface == nullptr) return;
    const int32_t left = std::max(rect.left, 0);
    const int32_t top = std::max(rect.top, 0);
    const int32_t right = std::min(rect.right, surface->width());
    const int32_t bottom = std::min(rect.bottom, surface->height());
    for (int32_t y = top; y < bottom; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(surface->scanLine(y));
        for (int32_t x = left; x < right; ++x) row[x] = 0xFF000000u | Rgb(colour);
    }
    drew_ = true;
}

void DrawingContext::BitBlt(int32_t x, int32_t y, const DibSection& bitmap) {
    QImage* surface = SurfaceOf(window_);
    if (surface == nullptr) return;
    for (int32_t row = 0; row < bitmap.Height(); ++row) {
        const int64_t targetY = int64_t(y) + row;
        if (targetY < 0 || targetY >= surface->height()) continue;
        auto* line = reinterpret_cast<uint32_t*>(surface->scanLine(static_cast<int>(targetY)));
        for (int32_t column = 0; column < bitmap.Width(); ++column) {
            const int64_t targetX = int64_t(x) + column;
            if (targetX < 0 || targetX >= surface->width()) continue;
            line[targetX] = 0xFF000000u | bitmap.PixelRgb(column, row);
        }
    }
    drew_ = true;
}

Colour DrawingContext::GetPixel(int32_t x, int32_t y) const {
    QImage* surface = SurfaceOf(window_);
    if (surface == nullptr || x < 0 || y < 0 || x >= surface->width() || y >= surface->height()) {
        return {};
    }
    const uint32_t value = reinterpret_cast<const uint32_t*>(surface->constScanLine(y))[x];
    return Colour{static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                  static_cast<uint8_t>(value)};
}

Colour ButtonFaceColour() {
    if (QApplication::instance() == nullptr) return Colour{240, 240, 240};
    const QColor face = QApplication::palette().color(QPalette::Button);
    return Colour{static_cast<uint8_t>(face.red()), static_cast<uint8_t>(face.green()),
                  static_cast<uint8_t>(face.blue())};
}

}  // namespace platform
