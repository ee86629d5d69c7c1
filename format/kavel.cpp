#include "format/kavel.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "format/image_header.h"
#include "format/pool.h"
#include "format/region_decode.h"

namespace kavel {

int32_t size_at_scale(int32_t size, int32_t scale) {
    int64_t v = size;
    for (int32_t s = 0; s < scale; ++s) v = (v + 1) / 2;
    return static_cast<int32_t>(v);
}

std::optional<Image> Image::open(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& reason) -> std::optional<Image> {
        if (error != nullptr) *error = reason;
        return std::nullopt;
    };
    FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) return fail(std::string("cannot open: ") + std::strerror(errno));
    ImageHeader header{};
    const int read = read_image_header(stream, &header);
    std::fclose(stream);
    if (read != 0) return fail("not a Kavel file (no \"kvel\" header)");
    if (!header_is_usable(header)) {
        return fail("the header describes no image (planes " + std::to_string(header.planes) +
                    ", levels " + std::to_string(header.levels) + ", size " +
                    std::to_string(header.width) + " x " + std::to_string(header.height) + ")");
    }
    Image image;
    image.path_ = path;
    image.info_ = ImageInfo{header.planes, header.levels, header.width, header.height};
    return image;
}

Window Image::bounds_at(int32_t scale) const {
    return Window{0, 0, width_at(scale) - 1, height_at(scale) - 1};
}

namespace {

// Windows of more samples than this are decoded in strips of rows, so that the decoder's
// working memory stays a few tens of megabytes whatever the window's size.
constexpr int64_t kStripSamples = int64_t{1} << 22;

}  // namespace

int32_t Image::strip_rows(const Window& window) const {
    const int64_t per_row = window.columns() * info_.planes;
    int64_t rows = kStripSamples / (per_row > 0 ? per_row : 1);
    if (rows < 16) rows = 16;
    return static_cast<int32_t>(rows < window.rows() ? rows : window.rows());
}

bool Image::decode_rows(int32_t scale, const Window& window, uint8_t* buffer, std::size_t stride,
                        std::string* error) const {
    auto fail = [&](const std::string& reason) {
        if (error != nullptr) *error = reason;
        return false;
    };
    pool_clear_limit_reached();
    RegionRequest* request = nullptr;
    const int made = make_region_request(path_.c_str(), &request, scale, window.x0, window.x1,
                                         window.y0, window.y1, static_cast<int32_t>(stride));
    if (made != 0) {
        if (request != nullptr) free_region_request(request);
        return fail(request == nullptr ? "out of memory" : "cannot read the file's header");
    }
    if (decode_region(path_.c_str(), request, buffer) != 0) {
        // The pool has been released, and the request with it.
        if (pool_limit_reached()) {
            return fail("out of memory: the decode needs more than the memory pool's limit");
        }
        return fail("the file's data is damaged or unreadable");
    }
    free_region_request(request);
    return true;
}

bool Image::decode(int32_t scale, const Window& window, uint8_t* buffer, std::size_t stride,
                   std::string* error) const {
    auto fail = [&](const std::string& reason) {
        if (error != nullptr) *error = reason;
        return false;
    };
    if (scale < 0 || scale > info_.levels) {
        return fail("scale " + std::to_string(scale) + " is not present (0.." +
                    std::to_string(info_.levels) + ")");
    }
    if (window.columns() < 1 || window.rows() < 1) return fail("the window is empty");
    const int64_t row_bytes = window.columns() * info_.planes;
    if (row_bytes > INT32_MAX || stride > static_cast<std::size_t>(INT32_MAX) ||
        static_cast<int64_t>(stride) < row_bytes) {
        return fail("the row stride does not hold a row of the window");
    }
    const int32_t strip = strip_rows(window);
    if (strip >= window.rows()) return decode_rows(scale, window, buffer, stride, error);
    // Strip by strip, keeping what each strip overwrites, so that a failure in a later strip
    // can put the caller's buffer back as it was.
    const auto row_length = static_cast<std::size_t>(row_bytes);
    std::vector<uint8_t> saved;
    auto restore = [&](int64_t rows_written) {
        for (int64_t r = 0; r < rows_written; ++r) {
            std::memcpy(buffer + static_cast<std::size_t>(r) * stride,
                        saved.data() + static_cast<std::size_t>(r) * row_length, row_length);
        }
    };
    for (int64_t top = window.y0; top <= window.y1; top += strip) {
        const int64_t bottom = window.y1 - top < strip ? window.y1 : top + strip - 1;
        const Window part{window.x0, static_cast<int32_t>(top), window.x1,
                          static_cast<int32_t>(bottom)};
        const int64_t done = top - window.y0;
        uint8_t* rows = buffer + static_cast<std::size_t>(done) * stride;
        try {
            for (int64_t r = 0; r <= bottom - top; ++r) {
                const uint8_t* row = rows + static_cast<std::size_t>(r) * stride;
                saved.insert(saved.end(), row, row + row_length);
            }
        } catch (const std::bad_alloc&) {
            restore(done);
            return fail("out of memory");
        }
        if (!decode_rows(scale, part, rows, stride, error)) {
            restore(done);
            return false;
        }
    }
    return true;
}

}  // namespace kavel
