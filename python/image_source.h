// Opening a Kavel image from what Python hands us: a path (str, bytes path or os.PathLike), a
// buffer (bytes, bytearray, memoryview, numpy array: read in place, held until the image is
// closed), or a binary file object with read and seek (read through a reader whose calls
// take the GIL, one at a time).
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "kavel/kavel.h"

namespace kavel_python {

// An opened image and whatever keeps its source alive. Closing may happen with or without
// the GIL held.
class ImageHandle {
  public:
    ImageHandle(kavel_image* image, std::unique_ptr<pybind11::buffer_info> buffer);
    ~ImageHandle();
    ImageHandle(const ImageHandle&) = delete;
    ImageHandle& operator=(const ImageHandle&) = delete;

    kavel_image* get() const { return image_; }

  private:
    kavel_image* image_;
    std::unique_ptr<pybind11::buffer_info> buffer_;
};

// Opens source; raises a kavel.Error subclass (or TypeError for an object that is no source).
std::shared_ptr<ImageHandle> open_source(const pybind11::object& source);

}  // namespace kavel_python
