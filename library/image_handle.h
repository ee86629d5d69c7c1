// What an opened image is behind the C interface's opaque handle.
#pragma once

#include <memory>

#include "format/byte_source.h"
#include "format/image_header.h"
#include "kavel/kavel.h"

struct kavel_image {
    std::unique_ptr<ByteSource> source;  // read for the image's whole lifetime
    ImageHeader header;                  // as read when the image was opened
    kavel_limits limits;
};
