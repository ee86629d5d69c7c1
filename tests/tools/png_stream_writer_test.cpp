// The parallel PNG writer: every level, thread count and row shape gives a PNG that libpng,
// pngcheck and Python's PIL read back to the same pixels.
#include "tools/common/png_stream_writer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_files.h"
#include "tools/common/literal_deflate.h"

namespace {

using kavel_test::TempDir;

// A picture like a decoded photograph: smooth ramps with a little noise.
std::vector<uint8_t> picture(uint32_t width, uint32_t height, int channels, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(std::size_t(width) * height * std::size_t(channels));
    std::size_t i = 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                pixels[i++] = uint8_t((x * (c + 1) + y * 3) / 4 + random() % 5);
    return pixels;
}

bool read_back(const std::string& path, int channels, uint32_t* width, uint32_t* height,
               std::vector<uint8_t>* pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = channels == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    pixels->resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels->data(), 0, nullptr)) return false;
    *width = image.width;
    *height = image.height;
    return true;
}

std::string write(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& pixels,
                  uint32_t width, uint32_t height, int channels,
                  const kavel_output::PngOptions& options) {
    const std::string path = dir.path(name);
    FILE* file = std::fopen(path.c_str(), "wb");
    std::string error;
    const bool ok = kavel_output::write_png(file, pixels.data(), width, height, channels,
                                            std::size_t(width) * std::size_t(channels), options,
                                            &error);
    std::fclose(file);
    EXPECT_TRUE(ok) << error;
    return path;
}

TEST(PngStreamWriter, EveryLevelAndThreadCountReadsBackExactly) {
    TempDir dir;
    struct Case {
        uint32_t width, height;
        int channels;
    };
    // Sizes around the piece size (1 MB) and small odd ones.
    for (const Case c : {Case{1, 1, 1}, Case{37, 5, 3}, Case{1200, 300, 3}, Case{400, 2700, 1}}) {
        const auto pixels = picture(c.width, c.height, c.channels, c.width);
        for (const int level : {0, 1, 6}) {
            for (const int threads : {1, 3}) {
                kavel_output::PngOptions options;
                options.level = level;
                options.threads = threads;
                options.pixels_per_inch = 300;
                const std::string path = write(dir, "p.png", pixels, c.width, c.height,
                                               c.channels, options);
                uint32_t width = 0, height = 0;
                std::vector<uint8_t> back;
                ASSERT_TRUE(read_back(path, c.channels, &width, &height, &back))
                    << c.width << " x " << c.height << " level " << level;
                EXPECT_EQ(width, c.width);
                EXPECT_EQ(height, c.height);
                EXPECT_EQ(back, pixels) << c.width << " x " << c.height << " level " << level
                                        << ", " << threads << " threads";
            }
        }
    }
}

// Independent readers: pngcheck (checksums, chunk order) and PIL (pixels; libpng refuses
// rows of more than a million pixels by default).
void expect_independent_readers_agree(const TempDir& dir, const std::string& png,
                                      const std::vector<uint8_t>& pixels) {
    const std::string raw = dir.path("expected.raw");
    kavel_test::write_bytes(raw, pixels);
    EXPECT_EQ(std::system(("pngcheck -q " + png).c_str()), 0) << png;
    const std::string script =
        "import sys; from PIL import Image; i = Image.open(sys.argv[1]); i.load(); "
        "sys.exit(0 if i.mode == 'RGB' and i.tobytes() == open(sys.argv[2], 'rb').read() "
        "else 1)";
    EXPECT_EQ(std::system(("/usr/bin/python3 -c \"" + script + "\" " + png + " " + raw).c_str()),
              0)
        << png;
}

TEST(PngStreamWriter, PngcheckAndPilAcceptTheFile) {
    TempDir dir;
    const auto pixels = picture(640, 900, 3, 9);
    kavel_output::PngOptions options;
    options.threads = 2;
    expect_independent_readers_agree(dir, write(dir, "c.png", pixels, 640, 900, 3, options),
                                     pixels);
}

// Rows longer than a piece are cut within the row: the stream stays one valid zlib stream.
TEST(PngStreamWriter, RowsLongerThanAPieceAreCutAndStillRead) {
    TempDir dir;
    const uint32_t width = uint32_t(kavel_output::PngStreamWriter::kWholeRowBytes / 3 + 7);
    const auto pixels = picture(width, 3, 3, 5);
    expect_independent_readers_agree(dir, write(dir, "wide.png", pixels, width, 3, 3, {}),
                                     pixels);
}

// The Huffman code stays within its length limit and complete, even for counts that would
// make a deeper tree.
TEST(LiteralDeflate, CodeLengthsAreLimitedAndComplete) {
    uint32_t counts[257] = {};
    uint32_t a = 1, b = 1;
    for (int s = 0; s < 30; ++s) {  // Fibonacci counts: an unlimited code would be 29 deep
        counts[s] = a;
        const uint32_t next = a + b;
        a = b;
        b = next;
    }
    counts[256] = 1;
    uint8_t lengths[257] = {};
    kavel_output::huffman_code_lengths(counts, 257, 15, lengths);
    double kraft = 0;
    for (int s = 0; s < 257; ++s) {
        EXPECT_LE(lengths[s], 15);
        EXPECT_EQ(lengths[s] != 0, counts[s] != 0) << s;
        if (lengths[s]) kraft += 1.0 / double(1u << lengths[s]);
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    // A single symbol still gets a code of two symbols.
    uint32_t one[19] = {};
    one[7] = 4;
    uint8_t short_lengths[19] = {};
    kavel_output::huffman_code_lengths(one, 19, 7, short_lengths);
    EXPECT_EQ(short_lengths[7], 1);
    EXPECT_EQ(short_lengths[0], 1);
}

}  // namespace
