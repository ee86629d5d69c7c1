#include "platform/dib_section.h"

namespace platform {

std::unique_ptr<DibSection> DibSection::Create(const BitmapInfoHeader& header,
                                               const RgbQuad* colourTable) {
    if (header.bitCount != 8 && header.bitCount != 24) return nullptr;
    if (header.width <= 0 || header.height <= 0 || header.compression != 0) return nullptr;
    const int64_t rowBytes = int64_t(header.width) * (header.bitCount / 8);
    const int64_t stride = (rowBytes + 3) / 4 * 4;
    const int64_t total = stride * header.height;
    if (total > (int64_t(256) << 20)) return nullptr;
    std::unique_ptr<DibSection> bitmap(new DibSection());
    bitmap->width_ = header.width;
    bitmap->height_ = header.height;
    bitmap->bitsPerPixel_ = header.bitCount;
    bitmap->stride_ = static_cast<int32_t>(stride);
    bitmap->bits_.assign(static_cast<size_t>(total), 0);
    if (header.bitCount == 8 && colourTable != nullptr) {
        for (size_t i = 0; i < bitmap->colourTable_.size(); ++i) {
            bitmap->colourTable_[i] = colourTable[i];
        }
    }
    return bitmap;
}

uint32_t DibSection::PixelRgb(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const uint8_t* row = bits_.data() + size_t(height_ - 1 - y) * size_t(stride_);
    if (bitsPerPixel_ == 8) {
        const RgbQuad& entry = colourTable_[row[x]];
        return uint32_t(entry.red) << 16 | uint32_t(entry.green) << 8 | entry.blue;
    }
    const uint8_t* pixel = row + size_t(x) * 3;
    return uint32_t(pixel[2]) << 16 | uint32_t(pixel[1]) << 8 | pixel[0];
}

}  // namespace platform
