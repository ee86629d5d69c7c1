// Test files for the C interface's tests, and what the straightforward decoder makes of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kavel/kavel.h"
#include "tests/support/test_files.h"

namespace capi_test {

// A generated file written to path: planes, levels, size, tiles of 64 and blocks of 16.
std::vector<uint8_t> make_file(const std::string& path, int32_t planes, int32_t levels,
                               int32_t width, int32_t height, uint32_t seed);

// The window decoded by the straightforward decoder through the format's own routines into
// rows stride bytes apart (rows x stride bytes, filled with `fill` first).
std::vector<uint8_t> reference_pixels(const std::string& path, int32_t scale,
                                      const kavel_window& window, int32_t planes,
                                      std::size_t stride, uint8_t fill = 0x5A);

// The same window through kavel_decode into a buffer of rows x stride bytes filled with `fill`.
struct Decoded {
    kavel_status status;
    std::vector<uint8_t> pixels;
};
Decoded decode(kavel_image* image, int32_t scale, const kavel_window& window, int32_t planes,
               std::size_t stride, int32_t threads = 1, uint8_t fill = 0x5A);

// A reader over bytes in memory that counts its calls.
struct CountingReader {
    std::vector<uint8_t> bytes;
    int closed = 0;
    kavel_reader reader();
};

}  // namespace capi_test
