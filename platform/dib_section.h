// A device-independent bitmap: rows stored bottom-up, each padded to a multiple of 4 bytes;
// 24-bit pixels in blue, green, red order, 8-bit pixels indices into a colour table.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

struct RgbQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;
};

struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;  // positive: bottom-up rows
    uint16_t planes = 1;
    uint16_t bitCount = 0;  // 8 or 24
    uint32_t compression = 0;
};

class DibSection {
  public:
    // A zero-filled bitmap, or null when the header asks for something this bitmap cannot
    // be (not 8 or 24 bits, not bottom-up, empty, or larger than 256 MiB).
    static std::unique_ptr<DibSection> Create(const BitmapInfoHeader& header,
                                              const RgbQuad* colourTable);

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int32_t BitsPerPixel() const { return bitsPerPixel_; }
    // Bytes from one stored row to the next.
    int32_t Stride() const { return stride_; }
    uint8_t* Bits() { return bits_.data(); }
    const uint8_t* Bits() const { return bits_.data(); }
    // The 256 entries of the colour table (grey ramp or as created; used by 8-bit bitmaps).
    const RgbQuad* ColourTable() const { return colourTable_.data(); }
    // The colour of the pixel in displayed row y (0 = top), column x.
    uint32_t PixelRgb(int32_t x, int32_t y) const;

  private:
    DibSection() = default;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t bitsPerPixel_ = 0;
    int32_t stride_ = 0;
    std::vector<uint8_t> bits_;
    std::array<RgbQuad, 256> colourTable_{};
};

}  // namespace platform
