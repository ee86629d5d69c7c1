#include "tests/capi/capi_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/support/reference/reference_decoder.h"
#include "format/region_decode.h"
#include "format/region_request.h"
#include "tests/support/opened_file.h"

namespace capi_test {

std::vector<uint8_t> make_file(const std::string& path, int32_t planes, int32_t levels,
                               int32_t width, int32_t height, uint32_t seed) {
    kavel_test::Layout layout;
    layout.tile = 64;
    layout.block = 16;
    return kavel_test::write_file(
        kavel_test::random_file(planes, levels, width, height, seed, layout), path);
}

std::vector<uint8_t> reference_pixels(const std::string& path, int32_t scale,
                                      const kavel_window& window, int32_t planes,
                                      std::size_t stride, uint8_t fill) {
    const auto rows = static_cast<std::size_t>(int64_t{window.y1} - window.y0 + 1);
    std::vector<uint8_t> pixels(rows * stride, fill);
    // The region decode clears whole rows of the stride where the window leaves the image;
    // kavel_decode writes only the window's bytes of each row. Decode into rows of the
    // window's width and place them.
    const auto row_bytes = static_cast<std::size_t>((int64_t{window.x1} - window.x0 + 1) * planes);
    std::vector<uint8_t> tight(rows * row_bytes);
    kavel_test::OpenedFile file(path);
    RegionRequest* request = nullptr;
    EXPECT_EQ(make_region_request(file.source(), &request, scale, window.x0, window.x1, window.y0,
                                  window.y1, static_cast<int32_t>(row_bytes)),
              0);
    DecodeContext context;
    context.decoder = reference_decoder();
    EXPECT_EQ(decode_region(file.source(), request, tight.data(), &context), 0);
    free_region_request(request);
    for (std::size_t r = 0; r < rows; ++r) {
        std::memcpy(pixels.data() + r * stride, tight.data() + r * row_bytes, row_bytes);
    }
    return pixels;
}

Decoded decode(kavel_image* image, int32_t scale, const kavel_window& window, int32_t planes,
               std::size_t stride, int32_t threads, uint8_t fill) {
    const auto rows = static_cast<std::size_t>(std::max<int64_t>(int64_t{window.y1} - window.y0 + 1, 1));
    Decoded d{KAVEL_OK, std::vector<uint8_t>(rows * std::max<std::size_t>(stride, 1), fill)};
    (void)planes;
    const kavel_decode_options options{sizeof(kavel_decode_options), threads};
    d.status = kavel_decode(image, scale, window, d.pixels.data(), stride, &options);
    return d;
}

namespace {

int64_t read_counting(void* context, uint64_t offset, void* buffer, size_t length) {
    auto* r = static_cast<CountingReader*>(context);
    if (offset >= r->bytes.size()) return 0;
    const std::size_t n = std::min<std::size_t>(length, r->bytes.size() - offset);
    std::memcpy(buffer, r->bytes.data() + offset, n);
    return static_cast<int64_t>(n);
}

void close_counting(void* context) { ++static_cast<CountingReader*>(context)->closed; }

}  // namespace

kavel_reader CountingReader::reader() {
    return kavel_reader{this, read_counting, bytes.size(), nullptr, close_counting};
}

}  // namespace capi_test
