#include "viewer/pixel_raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

PixelRaster::PixelRaster(int32_t rows, int32_t cols, bool grey) : grey_(grey ? 1 : 0) {
    Allocate(rows, cols);
}

PixelRaster::PixelRaster(const PixelRaster& other) : grey_(other.grey_) { *this = other; }

PixelRaster& PixelRaster::operator=(const PixelRaster& other) {
    if (this == &other) return *this;
    Allocate(other.rows_, other.cols_);
    const size_t bytesPerPixel = size_t(Channels());
    const size_t otherBytesPerPixel = size_t(other.Channels());
    const size_t count = size_t(rows_) * size_t(cols_);
    for (size_t i = 0; i < count; ++i) {
        // A colour source read into a grey raster keeps its first byte; a grey source read
        // into a colour raster fills the first byte of each pixel.
        const size_t copied = std::min(bytesPerPixel, otherBytesPerPixel);
        std::memcpy(pixels_.data() + i * bytesPerPixel,
                    other.pixels_.data() + i * otherBytesPerPixel, copied);
    }
    return *this;
}

PixelRaster::~PixelRaster() = default;

void PixelRaster::Resize(int32_t rows, int32_t cols) { Allocate(rows, cols); }

void PixelRaster::Allocate(int32_t rows, int32_t cols) {
    rows_ = std::max(rows, 0);
    cols_ = std::max(cols, 0);
    const size_t bytesPerPixel = size_t(Channels());
    pixels_.assign((size_t(rows_) + 1) * (size_t(cols_) + 1) * bytesPerPixel, 0);
    rowTable_.assign(size_t(rows_) + 1, nullptr);
    for (int32_t row = 0; row < rows_; ++row) {
        rowTable_[size_t(row)] = pixels_.data() + size_t(row) * size_t(cols_) * bytesPerPixel;
    }
}

void PixelRaster::ScaledCopyTo(PixelRaster& destination, double factor) const {
    if (rows_ == 0 || cols_ == 0) return;
    const size_t bytes = size_t(destination.Channels());
    const size_t sourceBytes = size_t(Channels());
    const size_t copied = std::min(bytes, sourceBytes);
    auto sourceIndex = [factor](int32_t index, int32_t limit) {
        const double position = std::trunc(double(index) * factor);
        if (!(position >= 0.0)) return 0;
        return position >= double(limit - 1) ? limit - 1 : static_cast<int32_t>(position);
    };
    for (int32_t i = 0; i < destination.rows_; ++i) {
        const uint8_t* sourceRow = Row(sourceIndex(i, rows_));
        uint8_t* row = destination.Row(i);
        for (int32_t j = 0; j < destination.cols_; ++j) {
            std::memcpy(row + size_t(j) * bytes,
                        sourceRow + size_t(sourceIndex(j, cols_)) * sourceBytes, copied);
        }
    }
}
