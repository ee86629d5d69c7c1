// The library's public entry: open a Kavel file, read its header, decode any window at any
// scale into your buffer.
//
//   auto image = kavel::Image::open("photo.kvl", &error);
//   std::vector<uint8_t> rgb(256 * 256 * image->info().planes);
//   image->decode(/*scale*/ 0, {1000, 1000, 1255, 1255}, rgb.data(), 256 * 3, &error);
//
// Windows are inclusive (x0..x1, y0..y1) in pixels of the image at the chosen scale; they may
// reach beyond the image, whose outside decodes as 0. The file is opened once and read through
// that descriptor for the image's lifetime (a file moved over the same name later is not read);
// different threads may decode one image at the same time.
//
// This is the tools' older entry; it shares the decode path of the C interface
// (include/kavel/kavel.h), whose C++ wrapper include/kavel/kavel.hpp takes over from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class ByteSource;
struct DecoderOverride;

namespace kavel {

struct ImageInfo {
    int32_t planes = 0;  // 1 grey, 3 colour
    int32_t levels = 0;  // scales 0..levels
    int32_t width = 0;   // full resolution
    int32_t height = 0;
};

struct Window {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // inclusive
    int64_t columns() const { return int64_t(x1) - x0 + 1; }
    int64_t rows() const { return int64_t(y1) - y0 + 1; }
};

// ceil(size / 2^scale): the width or height of the image at a scale.
int32_t size_at_scale(int32_t size, int32_t scale);

class Image {
public:
    // Reads the header of path. On failure returns nothing and sets *error (if given).
    static std::optional<Image> open(const std::string& path, std::string* error = nullptr);

    const ImageInfo& info() const { return info_; }
    const std::string& path() const { return path_; }
    int32_t width_at(int32_t scale) const { return size_at_scale(info_.width, scale); }
    int32_t height_at(int32_t scale) const { return size_at_scale(info_.height, scale); }
    Window bounds_at(int32_t scale) const;

    // Decodes window at scale into buffer: rows of planes x columns bytes (planes interleaved),
    // stride bytes apart (stride >= planes x columns). On failure returns false and sets
    // *error; the buffer is then as it was. Large windows are decoded in pieces of about four
    // million samples, so that the decoder's working memory stays a few tens of megabytes
    // (besides the decoded pieces, kept until every piece has succeeded: the buffer is written
    // only then).
    // A decoder override (tests) takes the place of the fast decoding routines.
    bool decode(int32_t scale, const Window& window, uint8_t* buffer, std::size_t stride,
                std::string* error = nullptr, const DecoderOverride* decoder = nullptr) const;

    // Rows of the window decoded at once: about four million samples, and 16 rows (of fewer
    // columns at a time) when a row is longer than that.
    int32_t strip_rows(const Window& window) const;

private:
    std::string path_;
    ImageInfo info_;
    std::shared_ptr<const ByteSource> source_;
};

}  // namespace kavel
