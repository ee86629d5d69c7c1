// Reading PNG, PGM and PPM pictures for the encoder.
#include "tools/picture_reader.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>

#include "tests/support/test_files.h"

namespace kavel {
namespace {

// Writes a PNG with libpng: rows of raw samples in the given colour type and depth.
void write_png(const std::string& path, int32_t width, int32_t height, int colour, int depth,
               const std::vector<uint8_t>& raw, const std::vector<png_color>& palette = {},
               const std::vector<uint8_t>& alpha = {}, bool interlaced = false) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), depth, colour,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (!alpha.empty()) png_set_tRNS(png, info, alpha.data(), int(alpha.size()), nullptr);
    png_write_info(png, info);
    const std::size_t row_bytes = raw.size() / std::size_t(height);
    std::vector<png_bytep> rows;
    for (int32_t y = 0; y < height; ++y)
        rows.push_back(const_cast<png_bytep>(raw.data() + std::size_t(y) * row_bytes));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

class PictureReader : public ::testing::Test {
  protected:
    Picture read_ok(const std::string& path, std::vector<std::string>* warnings = nullptr) {
        Picture picture;
        std::string error;
        EXPECT_TRUE(read_picture(path, &picture, &error, warnings)) << error;
        return picture;
    }
    std::string read_fails(const std::string& path, const PictureLimits& limits = {}) {
        Picture picture;
        std::string error;
        EXPECT_FALSE(read_picture(path, &picture, &error, nullptr, limits));
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_NE(error.find(path), std::string::npos) << error;
        return error;
    }
    kavel_test::TempDir dir_;
};

TEST_F(PictureReader, PngGreyAndColourIn8And16Bits) {
    const std::string path = dir_.path("p.png");
    write_png(path, 3, 2, PNG_COLOR_TYPE_GRAY, 8, {0, 100, 255, 1, 2, 3});
    Picture p = read_ok(path);
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{0, 100, 255, 1, 2, 3}));

    write_png(path, 2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 4, 5, 6});
    p = read_ok(path);
    EXPECT_EQ(p.channels, 3);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));

    // 16 bits: scaled to 8 with rounding, and a warning.
    write_png(path, 2, 1, PNG_COLOR_TYPE_GRAY, 16, {0xFF, 0xFF, 0x80, 0x00});
    std::vector<std::string> warnings;
    p = read_ok(path, &warnings);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{255, 128}));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("16-bit"), std::string::npos);

    write_png(path, 1, 1, PNG_COLOR_TYPE_RGB, 16, {0x12, 0x34, 0x00, 0x00, 0xFF, 0xFF});
    p = read_ok(path);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{0x12, 0, 255}));

    write_png(path, 8, 1, PNG_COLOR_TYPE_GRAY, 1, {0xA5});  // 1-bit grey expands to 0/255
    p = read_ok(path);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{255, 0, 255, 0, 0, 255, 0, 255}));

    std::vector<uint8_t> raw(16 * 16);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i);
    write_png(path, 16, 16, PNG_COLOR_TYPE_GRAY, 8, raw, {}, {}, true);  // interlaced
    EXPECT_EQ(read_ok(path).samples, raw);
}

TEST_F(PictureReader, AlphaIsDroppedWithAWarning) {
    const std::string path = dir_.path("a.png");
    write_png(path, 2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {10, 0, 20, 255});
    std::vector<std::string> warnings;
    Picture p = read_ok(path, &warnings);
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{10, 20}));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("alpha"), std::string::npos);

    write_png(path, 2, 1, PNG_COLOR_TYPE_RGBA, 8, {1, 2, 3, 0, 4, 5, 6, 128});
    p = read_ok(path);
    EXPECT_EQ(p.channels, 3);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));

    write_png(path, 1, 1, PNG_COLOR_TYPE_RGBA, 16, {0, 0, 0xFF, 0xFF, 0x80, 0x00, 0, 0});
    warnings.clear();
    p = read_ok(path, &warnings);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{0, 255, 128}));
    EXPECT_EQ(warnings.size(), 2u);
}

TEST_F(PictureReader, PalettesBecomeRgbOrGrey) {
    const std::string path = dir_.path("pal.png");
    write_png(path, 3, 1, PNG_COLOR_TYPE_PALETTE, 8, {2, 0, 1},
              {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}});
    Picture p = read_ok(path);
    EXPECT_EQ(p.channels, 3);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{70, 80, 90, 10, 20, 30, 40, 50, 60}));

    write_png(path, 4, 1, PNG_COLOR_TYPE_PALETTE, 2, {0x1B},  // 2-bit indices 0, 1, 2, 3
              {{0, 0, 0}, {85, 85, 85}, {170, 170, 170}, {255, 255, 255}});
    p = read_ok(path);
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{0, 85, 170, 255}));

    std::vector<std::string> warnings;  // palette transparency is alpha too
    write_png(path, 2, 1, PNG_COLOR_TYPE_PALETTE, 8, {0, 1}, {{9, 9, 9}, {7, 7, 7}}, {0, 255});
    p = read_ok(path, &warnings);
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{9, 7}));
    EXPECT_EQ(warnings.size(), 1u);
}

TEST_F(PictureReader, PgmAndPpmWithAnyMaxval) {
    const std::string path = dir_.path("p.pnm");
    kavel_test::write_bytes(path, {'P', '5', '\n', '#', ' ', 'c', '\n', '3', ' ', '1', '\n', '2',
                                   '5', '5', '\n', 0, 128, 255});
    Picture p = read_ok(path);
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{0, 128, 255}));

    const std::string header = "P6 1 1 1000\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (int b : {0x03, 0xE8, 0x01, 0xF4, 0x00, 0x00}) bytes.push_back(uint8_t(b));  // 1000, 500, 0
    kavel_test::write_bytes(path, bytes);
    std::vector<std::string> warnings;
    p = read_ok(path, &warnings);
    EXPECT_EQ(p.channels, 3);
    EXPECT_EQ(p.samples, (std::vector<uint8_t>{255, 128, 0}));
    EXPECT_EQ(warnings.size(), 1u);

    const std::string small = "P5 2 1 3\n";
    bytes.assign(small.begin(), small.end());
    bytes.push_back(3);
    bytes.push_back(1);
    kavel_test::write_bytes(path, bytes);
    EXPECT_EQ(read_ok(path).samples, (std::vector<uint8_t>{255, 85}));
}

TEST_F(PictureReader, BrokenAndMissingFilesFailWithOneLine) {
    read_fails(dir_.path("missing.png"));

    const std::string path = dir_.path("bad");
    kavel_test::write_bytes(path, {'h', 'e', 'l', 'l', 'o'});
    EXPECT_NE(read_fails(path).find("not a PNG"), std::string::npos);
    kavel_test::write_bytes(path, {});
    read_fails(path);

    // A PNG cut short.
    std::vector<uint8_t> raw(64 * 64 * 3);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i * 7);
    write_png(path, 64, 64, PNG_COLOR_TYPE_RGB, 8, raw);
    std::vector<uint8_t> png = kavel_test::read_bytes(path);
    png.resize(png.size() / 2);
    kavel_test::write_bytes(path, png);
    read_fails(path);
    png.resize(20);  // within the header chunk
    kavel_test::write_bytes(path, png);
    read_fails(path);

    const auto pnm = [&](const std::string& text) {
        kavel_test::write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
        return read_fails(path);
    };
    pnm("P5 4 4 255\nab");  // data ends early
    pnm("P5 4 4 0\n");
    pnm("P5 4 4 70000\n");
    pnm("P6 0 4 255\n");
    pnm("P5 4 x 255\n");
    pnm("P5 1 1 100\n\xC8");  // a sample above the maxval
    EXPECT_NE(pnm("P5 3000000000 1 255\n").find("too large"), std::string::npos);
    EXPECT_NE(pnm("P6 100000 100000 255\n").find("too large"), std::string::npos);

    // A size limit trips before anything is allocated.
    write_png(path, 64, 64, PNG_COLOR_TYPE_RGB, 8, raw);
    PictureLimits limits;
    limits.max_samples = 1000;
    EXPECT_NE(read_fails(path, limits).find("too large"), std::string::npos);
}

TEST_F(PictureReader, WritesPnmThatReadsBack) {
    Picture picture;
    picture.width = 3;
    picture.height = 2;
    picture.channels = 3;
    for (int i = 0; i < 18; ++i) picture.samples.push_back(uint8_t(i * 14));
    std::string error;
    ASSERT_TRUE(write_pnm(dir_.path("out.ppm"), picture, &error)) << error;
    const Picture back = read_ok(dir_.path("out.ppm"));
    EXPECT_EQ(back.samples, picture.samples);
    EXPECT_EQ(back.width, 3);
}

}  // namespace
}  // namespace kavel
