// One Kavel file as the plug-in and the viewer see it: its path and header values, its sizes
// at every scale, conversions between scales, and region reads. The file is opened once, when
// the object is made, and every read goes through that descriptor: a file moved over the same
// name later is not read, and a read whose file no longer holds the header read at the start
// fails.
//
// Rectangles are (left, top, right, bottom). ReadRegion takes right and bottom as one past
// the region; ReadRegionInto takes an inclusive window x0..x1, y0..y1.
#pragma once

#include <cstdint>
#include <memory>

#include "format/byte_source.h"

#include "platform/geometry.h"

class PixelRaster;

class ImageFile {
  public:
    // Reads the header of path. When the file cannot be read (or its header describes no
    // image, or the path is longer than 255 characters) the default beep sounds and the
    // object reports a plane count of 0, which no caller accepts.
    explicit ImageFile(const char* path);

    const char* GetPath() const { return path_; }
    int32_t GetPlaneCount() const { return planes_; }
    // The coarsest scale this object reads (the file's level count, or what the viewer set).
    int32_t GetLevelCount() const { return levels_; }
    void SetLevelCount(int32_t levels) { levels_ = levels; }

    // ceil(size / 2^s), computed by halving; the full size for s <= 0.
    int32_t GetWidthAtScale(int32_t scale) const;
    int32_t GetHeightAtScale(int32_t scale) const;
    platform::Rect GetBoundsAtScale(int32_t scale) const;

    // A point at scale from in pixels of scale to: each step coarser maps v to
    // trunc((v + 1) x 0.5), each step finer to trunc((v + 1) x 2).
    static platform::Point ConvertPoint(int32_t x, int32_t y, int32_t from, int32_t to);
    static platform::Rect ConvertRect(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                      int32_t from, int32_t to);

    // The whole image at scale GetLevelCount(); black where the decode fails, null only when
    // no raster can be made.
    std::unique_ptr<PixelRaster> ReadThumbnail() const;
    // The region at scale s (pixels beyond the image are 0; black where the decode fails);
    // null when s is outside 0..GetLevelCount() or the region is empty or too large.
    std::unique_ptr<PixelRaster> ReadRegion(int32_t left, int32_t top, int32_t right,
                                            int32_t bottom, int32_t scale) const;
    // Decodes the inclusive window into buffer, rows planes x rowWidth bytes apart; the
    // buffer must hold planes x (rows + 1) x (rowWidth + 1) bytes. Does nothing when s is
    // outside 0..GetLevelCount(). Returns false only when a decode was tried and failed
    // (the buffer is then untouched).
    bool ReadRegionInto(int32_t rowWidth, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                        int32_t scale, uint8_t* buffer) const;

  private:
    // Only grey and colour images have the pixel layout of rasters and tile buffers.
    bool HasPixelLayout() const { return planes_ == 1 || planes_ == 3; }
    // Makes and decodes one request; false when the request or the decode fails.
    bool Decode(int32_t scale, int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t stride,
                uint8_t* destination) const;

    char path_[256] = {};
    std::shared_ptr<const ByteSource> source_;
    int32_t planes_ = 0;
    int32_t levels_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
};
