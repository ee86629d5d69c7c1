// A new GIMP image of one 8-bit grey or RGB layer, filled row by row.
//
// The pixels go through libgimp's pixel regions rather than a GEGL buffer: they are 8-bit
// already, and the plug-in then never starts GEGL and babl, which costs a GIMP 2.10 plug-in
// about two seconds and over 300 MB before the first pixel.
#pragma once

#include <libgimp/gimp.h>

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

    bool valid() const { return image_ != -1 && drawable_ != nullptr; }
    // Rows top .. top + rows - 1 of the layer, planes interleaved, rows one after another.
    void WriteRows(int32_t top, int32_t rows, const uint8_t* pixels);
    // Writes what is pending and hands the image over.
    gint32 Release();

  private:
    gint32 image_ = -1;
    GimpDrawable* drawable_ = nullptr;
    GimpPixelRgn region_{};
};
