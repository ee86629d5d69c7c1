#include "tests/host/test_images.h"

#include <gtest/gtest.h>

std::string MakeKavelFile(const kavel_test::TempDir& dir, const std::string& name, int32_t planes,
                          int32_t levels, int32_t width, int32_t height, uint32_t seed) {
    const std::string path = dir.path(name);
    kavel_test::Layout layout;
    layout.tile = 64;
    layout.block = 16;
    kavel_test::write_file(kavel_test::random_file(planes, levels, width, height, seed, layout),
                           path);
    return path;
}

std::string MakeHeaderOnlyFile(const kavel_test::TempDir& dir, const std::string& name,
                               int32_t planes, int32_t levels, int32_t width, int32_t height) {
    std::vector<uint8_t> bytes = {'k', 'v', 'e', 'l', 0, 0, 0};
    for (int32_t value : {planes, levels, width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(uint8_t(uint32_t(value) >> shift));
    }
    const std::string path = dir.path(name);
    kavel_test::write_bytes(path, bytes);
    return path;
}

std::vector<uint8_t> LibraryDecode(const std::string& path, int32_t scale, int32_t x0, int32_t y0,
                                   int32_t x1, int32_t y1, int32_t planes) {
    std::vector<uint8_t> pixels;
    EXPECT_TRUE(kavel_test::decode_window(path, scale, x0, y0, x1, y1, &pixels, planes));
    return pixels;
}
