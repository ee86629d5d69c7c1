// Files from the writer, read back by the library: chosen quantised coefficients in, the exact
// pixels out. With L = 0 a pixel is its dequantised coefficient (minus the dither on plane 0,
// through the colour conversion for three planes), truncated and clamped, so every layout the
// writer can express is checked value for value.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "decode/dequantise.h"
#include "encode/kavel_writer.h"
#include "format/kavel.h"
#include "tests/support/test_files.h"

namespace kavel {
namespace {

// What the reader makes of q with step delta: sign(q)(|q| - 0.44) delta + sign(q) delta / 2, in
// the same operations.
float dequantised(int32_t q, float delta) {
    q = static_cast<int16_t>(static_cast<uint16_t>(q & 0xFFFF));
    if (q == 0) return 0.0f;
    const double a = std::bit_cast<float>(uint32_t{0x3EE147AE});
    const float half = static_cast<float>(double(delta) * 0.5);
    if (q > 0) return static_cast<float>((double(q) - a) * double(delta) + double(half));
    return static_cast<float>((double(q) + a) * double(delta) - double(half));
}

float dithered(float value, float delta, int32_t x, int32_t y, const DirectoryInput& dir) {
    const float d = kDitherTable[std::size_t(((y + dir.dither_row) & 127) * 128 +
                                             ((x + dir.dither_column) & 127))];
    return static_cast<float>(double(value) - double(d) * double(delta));
}

uint8_t to_byte(float v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return static_cast<uint8_t>(v);
}

// The expected planes of an L = 0 file: tiles in directory order, later ones overwriting.
std::vector<std::vector<float>> expected_planes(const FileInput& file) {
    std::vector<std::vector<float>> planes(
        std::size_t(file.planes),
        std::vector<float>(std::size_t(file.width) * std::size_t(file.height), 0.0f));
    const DirectoryInput& dir = file.subbands[0];
    for (const TileInput& tile : dir.tiles) {
        const int32_t tw = tile.x1 - tile.x0 + 1;
        for (int32_t p = 0; p < file.planes; ++p) {
            const auto& stream = tile.planes[std::size_t(p)];
            if (!stream) continue;
            for (int32_t y = tile.y0; y <= tile.y1; ++y)
                for (int32_t x = tile.x0; x <= tile.x1; ++x) {
                    if (x < 0 || y < 0 || x >= file.width || y >= file.height) continue;
                    const int32_t q =
                        stream->coefficients[std::size_t(y - tile.y0) * std::size_t(tw) +
                                             std::size_t(x - tile.x0)];
                    float v = dequantised(q, stream->step);  // L = 0: gain 1, scale 0
                    if (p == 0) v = dithered(v, stream->step, x, y, dir);
                    planes[std::size_t(p)]
                          [std::size_t(y) * std::size_t(file.width) + std::size_t(x)] = v;
                }
        }
    }
    return planes;
}

std::vector<uint8_t> expected_pixels(const FileInput& file) {
    const auto planes = expected_planes(file);
    const std::size_t count = std::size_t(file.width) * std::size_t(file.height);
    std::vector<uint8_t> pixels(count * std::size_t(file.planes));
    for (std::size_t i = 0; i < count; ++i) {
        if (file.planes == 1) {
            pixels[i] = to_byte(planes[0][i]);
            continue;
        }
        const double y = planes[0][i], iv = planes[1][i], q = planes[2][i];
        const double qr = std::bit_cast<float>(uint32_t{0x3F21F9AE});
        const double ir = std::bit_cast<float>(uint32_t{0xBF71F9AE});
        const double qg = std::bit_cast<float>(uint32_t{0xBF1A12F7});
        const double ig = std::bit_cast<float>(uint32_t{0x3E9425ED});
        const double qb = std::bit_cast<float>(uint32_t{0x3FDB425F});
        const double ib = std::bit_cast<float>(uint32_t{0x3F8CBDA1});
        pixels[3 * i] = to_byte(static_cast<float>((qr * q - ir * iv) + y));
        pixels[3 * i + 1] = to_byte(static_cast<float>(y + (qg * q - ig * iv)));
        pixels[3 * i + 2] = to_byte(static_cast<float>(y + (qb * q - ib * iv)));
    }
    return pixels;
}

StreamInput stream_of(int32_t tw, int32_t th, float step, int32_t block_w, int32_t block_h,
                      uint32_t seed, int32_t low, int32_t high, int zero_one_in = 0) {
    StreamInput stream;
    stream.step = step;
    stream.block_width = block_w;
    stream.block_height = block_h;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> value(low, high);
    stream.coefficients.resize(std::size_t(tw) * std::size_t(th));
    for (int32_t& q : stream.coefficients) {
        q = value(random);
        if (zero_one_in > 0 && random() % uint32_t(zero_one_in) != 0) q = 0;
    }
    return stream;
}

class WriterRoundTrip : public ::testing::Test {
  protected:
    // Writes file, decodes it whole and in windows, and compares with the expected pixels.
    void check(const FileInput& file) {
        const std::string path = dir_.path("file.kvl");
        kavel_test::write_file(file, path);
        const std::vector<uint8_t> expected = expected_pixels(file);
        std::vector<uint8_t> pixels;
        ASSERT_TRUE(kavel_test::decode_window(path, 0, 0, 0, file.width - 1, file.height - 1,
                                              &pixels, file.planes));
        ASSERT_EQ(pixels.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(int(pixels[i]), int(expected[i])) << "sample " << i;
        // Windows that start and end inside blocks and tiles.
        for (const auto& w : {std::array<int32_t, 4>{1, 2, 5, 3},
                              std::array<int32_t, 4>{3, 0, file.width - 2, file.height - 1},
                              std::array<int32_t, 4>{file.width - 1, file.height - 1,
                                                     file.width - 1, file.height - 1}}) {
            std::vector<uint8_t> window;
            ASSERT_TRUE(
                kavel_test::decode_window(path, 0, w[0], w[1], w[2], w[3], &window, file.planes));
            const int32_t columns = w[2] - w[0] + 1;
            for (int32_t y = w[1]; y <= w[3]; ++y)
                for (int32_t x = w[0]; x <= w[2]; ++x)
                    for (int32_t p = 0; p < file.planes; ++p) {
                        const bool inside = x < file.width && y < file.height;  // beyond: black
                        ASSERT_EQ(int(window[(std::size_t(y - w[1]) * std::size_t(columns) +
                                              std::size_t(x - w[0])) *
                                                 std::size_t(file.planes) +
                                             std::size_t(p)]),
                                  inside ? int(expected[(std::size_t(y) * std::size_t(file.width) +
                                                         std::size_t(x)) *
                                                            std::size_t(file.planes) +
                                                        std::size_t(p)])
                                         : 0)
                            << "window at " << x << "," << y;
                    }
        }
    }

    static FileInput base(int32_t planes, int32_t width, int32_t height) {
        FileInput file;
        file.planes = planes;
        file.levels = 0;
        file.width = width;
        file.height = height;
        file.subbands.resize(1);
        file.subbands[0].dither_column = 200;  // taken modulo 128
        file.subbands[0].dither_row = 77;
        return file;
    }

    kavel_test::TempDir dir_;
};

TEST_F(WriterRoundTrip, OneTileBlocksThatDoNotDivideIt) {
    FileInput file = base(1, 23, 17);
    file.subbands[0].tiles.push_back({0, 0, 22, 16, {stream_of(23, 17, 1.0f, 5, 7, 1, -10, 250)}});
    check(file);
}

TEST_F(WriterRoundTrip, SeveralTilesOverlapsAndUncoveredAreas) {
    FileInput file = base(1, 30, 20);
    auto& tiles = file.subbands[0].tiles;
    tiles.push_back({0, 0, 14, 9, {stream_of(15, 10, 1.5f, 4, 4, 2, 0, 170)}});
    tiles.push_back({15, 0, 29, 9, {stream_of(15, 10, 0.5f, 8, 3, 3, 0, 500)}});
    tiles.push_back(
        {10, 5, 19, 14, {stream_of(10, 10, 2.0f, 16, 16, 4, 0, 120)}});  // overlaps both
    // Rows 15..19 are covered by no tile: they read as zeros, without dither.
    tiles.push_back({25, 12, 29, 14, {std::nullopt}});  // a tile without a stream
    check(file);
}

TEST_F(WriterRoundTrip, EmptyDirectoryGivesBlack) {
    FileInput file = base(1, 9, 4);
    check(file);
    std::vector<uint8_t> pixels;
    const std::string path = dir_.path("file.kvl");
    ASSERT_TRUE(kavel_test::decode_window(path, 0, 0, 0, 8, 3, &pixels, 1));
    for (uint8_t v : pixels) EXPECT_EQ(v, 0);
}

TEST_F(WriterRoundTrip, ColourWithAPlaneWithoutStream) {
    FileInput file = base(3, 12, 10);
    TileInput tile{0, 0, 11, 9, {}};
    tile.planes.push_back(stream_of(12, 10, 1.0f, 4, 4, 5, 60, 200));
    tile.planes.push_back(std::nullopt);  // I is zero everywhere
    tile.planes.push_back(stream_of(12, 10, 0.25f, 3, 5, 6, -60, 60));
    file.subbands[0].tiles.push_back(tile);
    check(file);
}

TEST_F(WriterRoundTrip, EveryLayoutOrderReadsTheSame) {
    for (LayoutOrder order :
         {LayoutOrder::natural, LayoutOrder::directories_last, LayoutOrder::reversed,
          LayoutOrder::index_first, LayoutOrder::by_place}) {
        SCOPED_TRACE(int(order));
        FileInput file = base(3, 16, 16);
        file.layout = {order, 3};
        for (int32_t t = 0; t < 4; ++t) {
            const int32_t x0 = (t % 2) * 8, y0 = (t / 2) * 8;
            TileInput tile{x0, y0, x0 + 7, y0 + 7, {}};
            for (int p = 0; p < 3; ++p)
                tile.planes.push_back(stream_of(8, 8, 1.0f, 3, 3, uint32_t(10 * t + p),
                                                p == 0 ? 20 : -30, p == 0 ? 230 : 30, 2));
            file.subbands[0].tiles.push_back(tile);
        }
        check(file);
    }
}

TEST_F(WriterRoundTrip, LargeMagnitudesAndLongRuns) {
    FileInput file = base(1, 300, 3);
    StreamInput stream;
    stream.step = 0.005f;
    stream.block_width = 300;
    stream.block_height = 3;
    stream.coefficients.assign(900, 0);  // runs of 8 and 16 bits in one block
    stream.coefficients[0] = 40000;      // 103 with magnitude 40000: reads back as -25536
    stream.coefficients[1] = -40000;     // reads back as +25536: 127.68
    stream.coefficients[2] = 30000;      // 150.0
    stream.coefficients[3] = 76;         // just beyond the direct values
    stream.coefficients[4] = -74;
    stream.coefficients[500] = 255 * 200;
    stream.coefficients[899] = 20000;
    file.subbands[0].tiles.push_back({0, 0, 299, 2, {stream}});
    check(file);
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(kavel_test::decode_window(dir_.path("file.kvl"), 0, 0, 0, 2, 0, &pixels, 1));
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[1], 127);
    EXPECT_NEAR(pixels[2], 150, 1);
}

TEST_F(WriterRoundTrip, GivenCodeTableAndGivenSymbols) {
    FileInput file = base(1, 8, 2);
    CodeTable table;  // 180, 181, 101, 5 with lengths 2, 2, 3, 3
    table.counts[1] = 2;
    table.counts[2] = 2;
    table.symbols = {180, 181, 101, 5};
    StreamInput stream;
    stream.step = 10.0f;
    stream.block_width = 8;
    stream.block_height = 1;
    stream.coefficients = {1, 3, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 1, 1};
    stream.code_table = table;
    file.subbands[0].tiles.push_back({0, 0, 7, 1, {stream}});
    check(file);

    // The second block spelt by hand with runs that cross nothing and symbol 0 in between.
    CodeTable all;  // 212 codes of 8 bits: symbols 0..105 and 150..255
    for (int s = 0; s <= 105; ++s) all.symbols.push_back(uint8_t(s));
    for (int s = 150; s <= 255; ++s) all.symbols.push_back(uint8_t(s));
    all.counts[7] = 212;
    stream.code_table = all;
    stream.block_symbols.resize(2);
    stream.block_symbols[1] =
        std::vector<BlockSymbol>{{101, 20}, {0, 0}, {5, 0}, {181, 0}, {0, 0}, {181, 0}};
    file.subbands[0].tiles[0].planes[0] = stream;
    check(file);
}

TEST_F(WriterRoundTrip, LevelsAndTilesRandomFilesDecodeTheSameWholeOrInWindows) {
    // Beyond L = 0 the exact pixels come from the library itself: every window must equal the
    // same part of the whole image, for tiles and blocks of many shapes.
    for (const auto& shape : {kavel_test::Layout{5, 3, false}, kavel_test::Layout{16, 7, true},
                              kavel_test::Layout{0, 64, false}}) {
        const FileInput file = kavel_test::random_file(3, 3, 61, 45, 99, shape);
        const std::string path = dir_.path("levels.kvl");
        kavel_test::write_file(file, path);
        for (int32_t scale = 0; scale <= 3; ++scale) {
            const int32_t w = size_at_scale(61, scale), h = size_at_scale(45, scale);
            std::vector<uint8_t> whole, part;
            ASSERT_TRUE(kavel_test::decode_window(path, scale, 0, 0, w - 1, h - 1, &whole, 3));
            const int32_t x0 = w / 3, y0 = h / 4, x1 = w - 1 - w / 5, y1 = h - 1;
            ASSERT_TRUE(kavel_test::decode_window(path, scale, x0, y0, x1, y1, &part, 3));
            for (int32_t y = y0; y <= y1; ++y)
                for (int32_t x = x0; x <= x1; ++x)
                    for (int32_t p = 0; p < 3; ++p)
                        ASSERT_EQ(part[(std::size_t(y - y0) * std::size_t(x1 - x0 + 1) +
                                        std::size_t(x - x0)) *
                                           3 +
                                       std::size_t(p)],
                                  whole[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3 +
                                        std::size_t(p)])
                            << "scale " << scale << " at " << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace kavel
