#include "viewer/dib_display.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/drawing_context.h"
#include "viewer/pane_geometry.h"
#include "viewer/pixel_raster.h"

namespace {

// Working rasters beyond this are not drawn: no pane comes near it, and the bitmap section
// refuses the same size.
constexpr int64_t kMaxWorkingBytes = int64_t(256) << 20;

}  // namespace

DibDisplay::~DibDisplay() { DeleteBitmap(); }

void DibDisplay::Describe(int32_t rows, int32_t cols, int32_t channels, int32_t bitsPerPixel) {
    rows_ = std::max(rows, 0);
    cols_ = std::max(cols, 0);
    channels_ = channels;
    bitsPerPixel_ = bitsPerPixel;
    const int64_t size = int64_t(rows_) * cols_ * channels_;
    size_ = static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
}

bool DibDisplay::CreateBitmap() {
    DeleteBitmap();
    platform::BitmapInfoHeader header;
    header.width = cols_;
    header.height = rows_;  // positive: rows stored bottom-up
    header.planes = 1;
    header.bitCount = static_cast<uint16_t>(bitsPerPixel_);
    header.compression = 0;
    std::array<platform::RgbQuad, 256> greyRamp{};
    for (size_t k = 0; k < greyRamp.size(); ++k) {
        const auto level = static_cast<uint8_t>(k);
        greyRamp[k] = platform::RgbQuad{level, level, level, 0};
    }
    bitmap_ = platform::DibSection::Create(header, bitsPerPixel_ == 8 ? greyRamp.data() : nullptr);
    bits_ = bitmap_ != nullptr ? bitmap_->Bits() : nullptr;
    return bitmap_ != nullptr;
}

void DibDisplay::CopyPixelsIn(const PixelRaster& raster) {
    if (bitmap_ == nullptr || raster.Rows() < rows_ || raster.Cols() < cols_ ||
        raster.Channels() != channels_) {
        return;
    }
    const size_t stride = size_t(bitmap_->Stride());
    const size_t rowBytes = size_t(cols_) * size_t(channels_);
    for (int32_t y = 0; y < rows_; ++y) {
        std::memcpy(bits_ + size_t(y) * stride, raster.Row(y), rowBytes);
    }
}

void DibDisplay::FlipRows() {
    if (bitmap_ == nullptr) return;
    const size_t stride = size_t(bitmap_->Stride());
    std::vector<uint8_t> upper(stride);
    std::vector<uint8_t> lower(stride);
    for (int32_t i = 0; i < rows_ / 2; ++i) {
        uint8_t* first = bits_ + size_t(i) * stride;
        uint8_t* second = bits_ + size_t(rows_ - 1 - i) * stride;
        std::memcpy(upper.data(), first, stride);
        std::memcpy(lower.data(), second, stride);
        std::memcpy(first, lower.data(), stride);
        std::memcpy(second, upper.data(), stride);
    }
}

void DibDisplay::SwapRedBlue() {
    if (bitmap_ == nullptr || channels_ != 3) return;
    const size_t stride = size_t(bitmap_->Stride());
    for (int32_t y = 0; y < rows_; ++y) {
        uint8_t* pixel = bits_ + size_t(y) * stride;
        for (int32_t x = 0; x < cols_; ++x, pixel += 3) std::swap(pixel[0], pixel[2]);
    }
}

void DibDisplay::BlitToPane(const PaneGeometry& geometry, int32_t x, int32_t y) {
    if (bitmap_ != nullptr) {
        platform::DrawingContext dc = geometry.DrawingContext();
        dc.BitBlt(x, y, *bitmap_);
        dc.Release();
    }
    DeleteBitmap();
}

void DibDisplay::DeleteBitmap() {
    bitmap_.reset();
    bits_ = nullptr;
}

int32_t WorkingLength(int32_t length, double scale) {
    if (!(scale > 0.0) || !std::isfinite(scale)) return 0;
    if (scale == 1.0) return std::max(length, 0);
    const int32_t scaled = TruncateToInt32(length / scale);
    return std::max(4 * (scaled / 4), 0);
}

std::unique_ptr<DibDisplay> MakePaneBitmap(const PixelRaster& raster, double scale) {
    const int32_t channels = raster.Channels();
    const int32_t rows = WorkingLength(raster.Rows(), scale);
    const int32_t cols = WorkingLength(raster.Cols(), scale);
    if (rows <= 0 || cols <= 0) return nullptr;
    if (int64_t(rows) * cols * channels > kMaxWorkingBytes) return nullptr;

    // At exactly 1.0 a plain copy; otherwise a nearest-neighbour sample at the pane's scale.
    PixelRaster working =
        scale == 1.0 ? PixelRaster(raster) : PixelRaster(rows, cols, raster.IsGrey());
    if (scale != 1.0) raster.ScaledCopyTo(working, scale);

    auto display = std::make_unique<DibDisplay>();
    display->Describe(rows, cols, channels, raster.BitsPerPixel());
    if (!display->CreateBitmap()) return nullptr;
    display->CopyPixelsIn(working);
    display->FlipRows();
    display->SwapRedBlue();
    return display;
}

void PixelRaster::DrawInPane(PaneGeometry geometry) const {
    if (geometry.GetWindow() == nullptr) return;
    std::unique_ptr<DibDisplay> display = MakePaneBitmap(*this, geometry.Scale());
    if (display == nullptr) return;
    display->BlitToPane(geometry, geometry.Offset().x, geometry.Offset().y);
}

void PixelRaster::DrawReducedInPane(const PaneGeometry& geometry) const {
    if (geometry.GetWindow() == nullptr) return;
    std::unique_ptr<DibDisplay> display = MakePaneBitmap(*this, 1.0);
    if (display == nullptr) return;
    display->BlitToPane(geometry, geometry.Offset().x, geometry.Offset().y);
}
