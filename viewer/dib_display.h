// The device-independent bitmap through which a raster reaches a pane: rows bottom-up, each
// row starting at a multiple of the row stride (the row's bytes rounded up to 4), pixels in
// blue, green, red order, or 8-bit indices into a grey ramp. One lives for one draw only.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/dib_section.h"

class PaneGeometry;
class PixelRaster;

class DibDisplay {
  public:
    DibDisplay() = default;
    ~DibDisplay();
    DibDisplay(const DibDisplay&) = delete;
    DibDisplay& operator=(const DibDisplay&) = delete;

    void Describe(int32_t rows, int32_t cols, int32_t channels, int32_t bitsPerPixel);
    // Creates the bitmap section for the description; false when it cannot be made (then
    // nothing is drawn).
    bool CreateBitmap();
    // Raster row y goes to stored row y, at y x stride; the raster must have the described
    // size and channels.
    void CopyPixelsIn(const PixelRaster& raster);
    // Stored row i and row rows - 1 - i change places, for i < rows / 2.
    void FlipRows();
    // The first and third byte of every pixel change places (colour only).
    void SwapRedBlue();
    // Copies the whole bitmap, unscaled, to the pane at (x, y), then deletes the bitmap.
    void BlitToPane(const PaneGeometry& geometry, int32_t x, int32_t y);
    void DeleteBitmap();

    int32_t Rows() const { return rows_; }
    int32_t Cols() const { return cols_; }
    int32_t Channels() const { return channels_; }
    int32_t BitsPerPixel() const { return bitsPerPixel_; }
    // rows x cols x channels, saturated at INT32_MAX.
    int32_t SizeInBytes() const { return size_; }
    const platform::DibSection* Bitmap() const { return bitmap_.get(); }
    const uint8_t* Bits() const { return bits_; }

  private:
    uint8_t* bits_ = nullptr;  // the bitmap's pixel memory, owned by the bitmap
    int32_t rows_ = 0;
    int32_t cols_ = 0;
    int32_t channels_ = 0;
    int32_t size_ = 0;
    int32_t bitsPerPixel_ = 0;
    std::unique_ptr<platform::DibSection> bitmap_;
};

// The working size of a raster of rows x cols drawn at scale s: itself at exactly 1.0, else
// trunc(n / s) cut down to a multiple of 4. Zero for a scale that is not a positive number.
int32_t WorkingLength(int32_t length, double scale);

// Everything DrawInPane does short of the blit: the working raster (nearest-neighbour
// reduction or enlargement to the pane's scale), the bitmap filled bottom-up in blue, green,
// red. Null when there is nothing to draw (an empty working raster, a bitmap that cannot be
// made).
std::unique_ptr<DibDisplay> MakePaneBitmap(const PixelRaster& raster, double scale);
