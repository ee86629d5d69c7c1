// A part of a picture, for tests that code pieces of the photographs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encode/encoder.h"

namespace kavel {

inline Picture crop(const Picture& picture, int32_t x0, int32_t y0, int32_t width,
                    int32_t height) {
    Picture out;
    out.width = width;
    out.height = height;
    out.channels = picture.channels;
    for (int32_t y = y0; y < y0 + height; ++y) {
        const auto* row = picture.samples.data() +
                          (std::size_t(y) * std::size_t(picture.width) + std::size_t(x0)) *
                              std::size_t(picture.channels);
        out.samples.insert(out.samples.end(), row,
                           row + std::size_t(width) * std::size_t(picture.channels));
    }
    return out;
}

}  // namespace kavel
