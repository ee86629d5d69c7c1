// An owned 8-bit picture, grey (one byte per pixel) or colour (red, green, blue), rows one
// after another without padding.
//
// The pixel memory has room for (rows + 1) x (cols + 1) pixels: the reader's windows are
// inclusive, so a region of rows x cols is decoded one pixel wider and higher, and that extra
// column and row land in the spare room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/geometry.h"

class PaneGeometry;

class PixelRaster {
  public:
    // A zero-filled raster; negative sizes count as 0.
    PixelRaster(int32_t rows, int32_t cols, bool grey);
    PixelRaster(const PixelRaster& other);
    // Takes the other's size and pixels and keeps its own grey flag; pixels are copied as
    // this raster's bytes per pixel.
    PixelRaster& operator=(const PixelRaster& other);
    ~PixelRaster();

    // New zero-filled memory for the new size, same grey flag.
    void Resize(int32_t rows, int32_t cols);

    platform::Rect Bounds() const { return platform::Rect{0, 0, cols_, rows_}; }
    int32_t Channels() const { return grey_ ? 1 : 3; }
    int32_t BitsPerPixel() const { return grey_ ? 8 : 24; }
    bool IsGrey() const { return grey_ != 0; }
    int32_t Rows() const { return rows_; }
    int32_t Cols() const { return cols_; }

    uint8_t* Pixels() { return pixels_.data(); }
    const uint8_t* Pixels() const { return pixels_.data(); }
    // Bytes the pixel memory holds: (rows + 1) x (cols + 1) x channels.
    size_t PixelBytes() const { return pixels_.size(); }
    uint8_t* Row(int32_t row) { return rowTable_[size_t(row)]; }
    const uint8_t* Row(int32_t row) const { return rowTable_[size_t(row)]; }

    // Nearest-neighbour copy: destination pixel (i, j) takes the source pixel at row
    // trunc(i x factor), column trunc(j x factor). Source positions beyond this raster take
    // its last row or column.
    void ScaledCopyTo(PixelRaster& destination, double factor) const;

    // Draws the raster into the geometry's pane at its centring offset, reduced (or
    // enlarged) by nearest neighbour to the geometry's scale and cut to multiples of 4
    // (unchanged at scale 1.0). Nothing is drawn without a window or when the working raster
    // is empty.
    void DrawInPane(PaneGeometry geometry) const;
    // Draws the raster as it is (already reduced to the pane) at the geometry's centring
    // offset.
    void DrawReducedInPane(const PaneGeometry& geometry) const;

  private:
    void Allocate(int32_t rows, int32_t cols);

    int32_t grey_;
    std::vector<uint8_t> pixels_;
    std::vector<uint8_t*> rowTable_;
    int32_t rows_ = 0;
    int32_t cols_ = 0;
};
