#include <gtest/gtest.h>

#include "format/image_header.h"
#include "tests/support/test_files.h"
#include "tests/support/opened_file.h"

namespace {

std::vector<uint8_t> header_bytes(int32_t planes, int32_t levels, int32_t width, int32_t height) {
    std::vector<uint8_t> bytes = {'k', 'v', 'e', 'l', 1, 2, 3};
    for (int32_t v : {planes, levels, width, height}) {
        const auto u = static_cast<uint32_t>(v);
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(u >> shift));
    }
    return bytes;
}

TEST(ImageHeader, ReadsExactlyTwentyThreeBytes) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("h.kvl");
    kavel_test::write_bytes(path, header_bytes(3, 2, 101, -75));
    int32_t p = 0, l = 0, w = 0, h = 0;
    ASSERT_EQ(open_image_header(path.c_str(), &p, &l, &w, &h), 0);
    EXPECT_EQ(p, 3);
    EXPECT_EQ(l, 2);
    EXPECT_EQ(w, 101);
    EXPECT_EQ(h, -75);  // no range check while reading

    kavel_test::OpenedFile file(path);
    ImageHeader header{};
    ASSERT_EQ(read_image_header(file.stream(), &header), 0);
    EXPECT_EQ(file.stream()->tell(), 23);

    auto short_bytes = header_bytes(1, 0, 1, 1);
    short_bytes.pop_back();
    kavel_test::write_bytes(path, short_bytes);
    EXPECT_EQ(open_image_header(path.c_str(), &p, &l, &w, &h), 1);
}

TEST(ImageHeader, AnyWrongMagicByteOrShortFileFails) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("h.kvl");
    int32_t p, l, w, h;
    for (int i = 0; i < 4; ++i) {
        auto bytes = header_bytes(1, 0, 8, 8);
        bytes[i] ^= 0x20;
        kavel_test::write_bytes(path, bytes);
        EXPECT_EQ(open_image_header(path.c_str(), &p, &l, &w, &h), 1) << i;
    }
    kavel_test::write_bytes(path, {'k', 'v', 'e'});
    EXPECT_EQ(open_image_header(path.c_str(), &p, &l, &w, &h), 1);
}

TEST(ImageHeader, MissingFileIsReportedOnStandardError) {
    int32_t p, l, w, h;
    testing::internal::CaptureStderr();
    EXPECT_EQ(open_image_header("/nonexistent/x.kvl", &p, &l, &w, &h), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error opening /nonexistent/x.kvl for read.\n");
}

TEST(ImageHeader, UsableHeadersDescribeAnImage) {
    EXPECT_TRUE(header_is_usable({1, 0, 1, 1}));
    EXPECT_TRUE(header_is_usable({2, 31, 5, 5}));  // decodes plane by plane
    EXPECT_FALSE(header_is_usable({0, 0, 1, 1}));
    EXPECT_FALSE(header_is_usable({1, -1, 1, 1}));
    EXPECT_FALSE(header_is_usable({1, 32, 1, 1}));
    EXPECT_FALSE(header_is_usable({1, 0, 0, 1}));
    EXPECT_FALSE(header_is_usable({1, 0, 1, -5}));
}

TEST(ImageHeader, Be32ReadsSignedBigEndianAndFloats) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("b");
    kavel_test::write_bytes(path, {0xFF, 0xFF, 0xFF, 0xFE, 0x3F, 0xC0, 0x00, 0x00, 0x01});
    kavel_test::OpenedFile file(path);
    ByteStream* f = file.stream();
    int32_t v = 0;
    float step = 0;
    EXPECT_EQ(read_be32(f, &v), 0);
    EXPECT_EQ(v, -2);
    EXPECT_EQ(read_be32_float(f, &step), 0);
    EXPECT_EQ(step, 1.5f);
    EXPECT_EQ(read_be32(f, &v), 1);  // one byte left
}

}  // namespace
