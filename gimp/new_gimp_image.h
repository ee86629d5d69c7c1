// A new GIMP image of one 8-bit grey or RGB layer, filled row by row.
#pragma once

#include <libgimp/gimp.h>

#include <cstddef>
#include <cstdint>

class NewGimpImage {
  public:
    // Creates the image and its layer, named after the file's base name; the image takes the
    // file's name. planes: 1 grey, 3 RGB.
    NewGimpImage(int32_t width, int32_t height, int32_t planes, const char* filename);
    // Deletes the image unless it was released.
    ~NewGimpImage();
    NewGimpImage(const NewGimpImage&) = delete;
    NewGimpImage& operator=(const NewGimpImage&) = delete;

    bool valid() const { return image_ != -1 && buffer_ != nullptr; }
    // Rows top .. top + rows - 1 of the layer, planes interleaved, stride bytes apart.
    void WriteRows(int32_t top, int32_t rows, const uint8_t* pixels, size_t stride);
    // Writes what is pending and hands the image over.
    gint32 Release();

  private:
    gint32 image_ = -1;
    GeglBuffer* buffer_ = nullptr;
    const Babl* format_ = nullptr;
    int32_t width_ = 0;
};

// The babl format of 8-bit interleaved pixels with planes 1 (grey) or 3 (RGB).
const Babl* EightBitFormat(int32_t planes);
