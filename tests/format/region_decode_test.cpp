#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "decode/dequantise.h"
#include "decode/wavelet.h"
#include "format/kavel.h"
#include "format/pool.h"
#include "format/region_decode.h"
#include "tests/support/test_files.h"
#include "tests/support/opened_file.h"

namespace {

using kavel_test::decode_window;
using kavel_test::Layout;
using kavel_test::random_file;
using kavel_test::TempDir;
using kavel_test::write_file;

TEST(StoreSamples, TruncatesTowardZeroAndClamps) {
    EXPECT_EQ(sample_to_byte(254.9f), 254);
    EXPECT_EQ(sample_to_byte(255.0f), 255);
    EXPECT_EQ(sample_to_byte(300.5f), 255);
    EXPECT_EQ(sample_to_byte(-0.7f), 0);
    EXPECT_EQ(sample_to_byte(0.99f), 0);
    EXPECT_EQ(sample_to_byte(1.0f), 1);
    EXPECT_EQ(sample_to_byte(3e10f), 255);
    EXPECT_EQ(sample_to_byte(-3e10f), 0);
    EXPECT_EQ(sample_to_byte(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(sample_to_byte(std::numeric_limits<float>::infinity()), 255);
}

// Colour rows are stored a stretch of pixels at a time: every pixel of a row that spans
// several stretches (and ends inside one) is each pixel's transform and clamp, edge values too.
TEST(StoreSamples, ColourRowsAreEachPixelConvertedAndClamped) {
    constexpr int32_t kWidth = 600;
    const float edges[] = {std::numeric_limits<float>::quiet_NaN(), -0.0f, 254.9999f, 255.5f,
                           -1e30f, 1e30f, std::numeric_limits<float>::infinity(), 0.5f};
    std::vector<float> planes[3];
    for (int j = 0; j < 3; ++j) {
        planes[j].resize(kWidth);
        for (int32_t x = 0; x < kWidth; ++x) {
            planes[j][x] = x % 7 == j ? edges[(x / 7 + j) % 8]
                                      : static_cast<float>((x * 37 + j * 101) % 400) * 0.71f -
                                            (j == 0 ? 20.0f : 140.0f);
        }
    }
    RegionNode nodes[3] = {};
    RegionNode* regions[3];
    for (int j = 0; j < 3; ++j) {
        nodes[j].x1 = kWidth - 1;
        nodes[j].coefficients = planes[j].data();
        regions[j] = &nodes[j];
    }
    RegionRequest request{};
    request.x1 = kWidth - 1;
    request.stride = 3 * kWidth;
    request.planes = 3;
    std::vector<uint8_t> pixels(3 * kWidth, 0x5C);
    store_planes(regions, 3, &request, pixels.data(), true);
    for (int32_t x = 0; x < kWidth; ++x) {
        const ColourSample c = colour_of(planes[0][x], planes[1][x], planes[2][x]);
        ASSERT_EQ(pixels[3 * x], sample_to_byte(c.r)) << x;
        ASSERT_EQ(pixels[3 * x + 1], sample_to_byte(c.g)) << x;
        ASSERT_EQ(pixels[3 * x + 2], sample_to_byte(c.b)) << x;
    }
}

// With no levels the samples are the dequantised coefficients themselves.
TEST(RegionDecode, LevelZeroPixelsAreTheDequantisedCoefficients) {
    TempDir dir;
    kavel::FileInput file = random_file(1, 0, 13, 7, 11, Layout{0, 4, false});
    file.subbands[0].dither_column = 120;
    file.subbands[0].dither_row = 3;
    const float step = 1.75f;
    auto& stream = *file.subbands[0].tiles[0].planes[0];
    stream.step = step;
    const std::string path = dir.path("l0.kvl");
    write_file(file, path);
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(decode_window(path, 0, 0, 0, 12, 6, &pixels, 1));
    const double a = 0.4399999976158142;
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 13; ++x) {
            const int q = stream.coefficients[y * 13 + x];
            float v = q == 0 ? 0.0f
                             : static_cast<float>((q - a) * double{step} + double{step * 0.5f});
            const float d = kDitherTable[((y + 3) % 128) * 128 + (x + 120) % 128];
            v = static_cast<float>(double{v} - double{d} * double{step});
            ASSERT_EQ(pixels[y * 13 + x], sample_to_byte(v)) << x << "," << y;
        }
    }
    EXPECT_EQ(pool_block_count(), 0u);
}

struct Shape {
    int32_t planes, levels, width, height;
    Layout layout;
};

// Every window decoded on its own equals the same window cut from the whole image at that
// scale, with black where it lies outside.
void check_windows_match_whole(const Shape& shape, uint32_t seed) {
    TempDir dir;
    const std::string path = dir.path("w.kvl");
    write_file(random_file(shape.planes, shape.levels, shape.width, shape.height, seed,
                           shape.layout),
               path);
    std::mt19937 random(seed);
    const int32_t p = shape.planes;
    for (int32_t s = 0; s <= shape.levels; ++s) {
        const int32_t w = kavel::size_at_scale(shape.width, s);
        const int32_t h = kavel::size_at_scale(shape.height, s);
        std::vector<uint8_t> whole;
        ASSERT_TRUE(decode_window(path, s, 0, 0, w - 1, h - 1, &whole, p)) << "scale " << s;
        for (int trial = 0; trial < 12; ++trial) {
            int32_t x0 = static_cast<int32_t>(random() % (w + 6)) - 3;
            int32_t y0 = static_cast<int32_t>(random() % (h + 6)) - 3;
            int32_t x1 = x0 + static_cast<int32_t>(random() % (w + 2));
            int32_t y1 = y0 + static_cast<int32_t>(random() % (h + 2));
            if (trial == 0) x0 = w + 2, x1 = w + 5, y0 = 0, y1 = 1;  // wholly outside
            if (trial == 1) x0 = x1 = w - 1, y0 = y1 = h - 1;        // last pixel alone
            std::vector<uint8_t> part;
            ASSERT_TRUE(decode_window(path, s, x0, y0, x1, y1, &part, p));
            const int32_t cols = x1 - x0 + 1;
            for (int32_t y = y0; y <= y1; ++y) {
                for (int32_t x = x0; x <= x1; ++x) {
                    for (int32_t i = 0; i < p; ++i) {
                        const bool inside = x >= 0 && y >= 0 && x < w && y < h;
                        const uint8_t expected =
                            inside ? whole[(static_cast<size_t>(y) * w + x) * p + i] : 0;
                        ASSERT_EQ(part[(static_cast<size_t>(y - y0) * cols + (x - x0)) * p + i],
                                  expected)
                            << "scale " << s << " window " << x0 << "," << y0 << "," << x1
                            << "," << y1 << " at " << x << "," << y;
                    }
                }
            }
        }
    }
    EXPECT_EQ(pool_block_count(), 0u);
}

TEST(RegionDecode, WindowsMatchTheWholeImageGrey) {
    check_windows_match_whole({1, 3, 61, 45, Layout{16, 5, false}}, 1);
    check_windows_match_whole({1, 0, 9, 4, Layout{0, 3, false}}, 2);
    check_windows_match_whole({1, 6, 100, 70, Layout{0, 8, true}}, 3);
}

TEST(RegionDecode, WindowsMatchTheWholeImageColour) {
    check_windows_match_whole({3, 2, 37, 50, Layout{8, 4, false}}, 4);
    check_windows_match_whole({3, 4, 64, 64, Layout{0, 16, false}}, 5);
}

// Bands one sample wide or high split into high bands with no columns or rows; such images
// decode at every scale.
TEST(RegionDecode, DegenerateShapesDecodeAtEveryScale) {
    check_windows_match_whole({1, 3, 1, 29, Layout{0, 4, false}}, 6);
    check_windows_match_whole({3, 4, 8, 8, Layout{0, 2, false}}, 7);
    check_windows_match_whole({1, 5, 200, 3, Layout{0, 8, false}}, 8);
    check_windows_match_whole({1, 2, 1, 1, Layout{0, 1, false}}, 9);
    check_windows_match_whole({1, 3, 2, 3, Layout{0, 1, false}}, 10);
    check_windows_match_whole({3, 2, 4, 5, Layout{0, 2, false}}, 11);
}

TEST(RegionDecode, TwoPlaneFilesDecodePlaneByPlane) {
    check_windows_match_whole({2, 2, 20, 17, Layout{0, 4, false}}, 12);
}

TEST(RegionDecode, ShortStrideWrapsTheExtraPixelOntoTheNextRow) {
    TempDir dir;
    const std::string path = dir.path("s.kvl");
    write_file(random_file(3, 1, 20, 12, 13), path);
    std::vector<uint8_t> whole;
    ASSERT_TRUE(decode_window(path, 0, 0, 0, 19, 11, &whole, 3));
    // A 5 x 4 raster filled from the inclusive window 2..7 x 3..7 with stride 3 x 5.
    RegionRequest* request = nullptr;
    ASSERT_EQ(make_region_request(kavel_test::OpenedFile(path).source(), &request, 0, 2, 7, 3, 7, 15), 0);
    std::vector<uint8_t> raster(6 * 5 * 3, 0xEE);
    ASSERT_EQ(decode_region(kavel_test::OpenedFile(path).source(), request, raster.data()), 0);
    EXPECT_EQ(free_region_request(request), 0);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 5; ++c) {
            for (int i = 0; i < 3; ++i) {
                ASSERT_EQ(raster[(r * 5 + c) * 3 + i], whole[((3 + r) * 20 + 2 + c) * 3 + i]);
            }
        }
    }
    // The last row's extra pixel lands just beyond rows x stride.
    EXPECT_EQ(raster[4 * 15 + 5 * 3], whole[(7 * 20 + 7) * 3]);
    EXPECT_EQ(pool_block_count(), 0u);
}

TEST(RegionDecode, RequestsRefuseScalesOutsideTheFile) {
    TempDir dir;
    const std::string path = dir.path("r.kvl");
    write_file(random_file(1, 2, 16, 16, 14), path);
    for (int32_t scale : {-1, 3}) {
        RegionRequest* request = nullptr;
        EXPECT_EQ(make_region_request(kavel_test::OpenedFile(path).source(), &request, scale, 0, 3, 0, 3, 4), 1);
        EXPECT_NE(request, nullptr);
        EXPECT_EQ(free_region_request(request), 0);
    }
    RegionRequest* request = nullptr;
    EXPECT_EQ(make_region_request(kavel_test::OpenedFile("/nonexistent.kvl").source(), &request, 0, 0, 3, 0, 3, 4), 1);
    EXPECT_EQ(free_region_request(request), 0);
    EXPECT_EQ(pool_block_count(), 0u);
}

}  // namespace

namespace {

// Each thread decodes with a pool of its own: decodes on several threads at once give the
// same bytes as one after the other, and leave every pool empty.
TEST(RegionDecode, ThreadsDecodeAtTheSameTime) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("t.kvl");
    kavel_test::write_file(kavel_test::random_file(3, 3, 120, 90, 41), path);
    std::vector<uint8_t> expected;
    ASSERT_TRUE(kavel_test::decode_window(path, 0, 0, 0, 119, 89, &expected, 3));
    std::vector<std::vector<uint8_t>> results(4);
    std::vector<size_t> left(4, 99);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                kavel_test::decode_window(path, 0, 0, 0, 119, 89, &results[t], 3);
            }
            left[t] = pool_block_count();
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t t = 0; t < results.size(); ++t) {
        EXPECT_EQ(results[t], expected) << t;
        EXPECT_EQ(left[t], 0u) << t;
    }
}

// A window taller than one strip is decoded strip by strip into the same bytes.
TEST(RegionDecode, TallWindowsAreDecodedInStrips) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("tall.kvl");
    kavel_test::write_file(kavel_test::random_file(1, 2, 3, 200, 43), path);
    const auto image = kavel::Image::open(path);
    ASSERT_TRUE(image);
    const kavel::Window whole = image->bounds_at(0);
    const kavel::Window wide{-50000, 0, 50000, 199};
    EXPECT_LT(image->strip_rows(wide), 200);
    std::vector<uint8_t> pixels(static_cast<size_t>(wide.columns() * wide.rows()));
    ASSERT_TRUE(image->decode(0, wide, pixels.data(), static_cast<size_t>(wide.columns())));
    std::vector<uint8_t> narrow;
    ASSERT_TRUE(kavel_test::decode_window(path, 0, 0, 0, 2, 199, &narrow, 1));
    for (int32_t y = 0; y <= whole.y1; ++y) {
        for (int32_t x = 0; x <= 2; ++x) {
            ASSERT_EQ(pixels[static_cast<size_t>(y * wide.columns() + 50000 + x)],
                      narrow[static_cast<size_t>(y * 3 + x)]);
        }
    }
    EXPECT_EQ(pool_block_count(), 0u);
}

TEST(RegionDecode, MemoryLimitIsReportedAsSuch) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("m.kvl");
    kavel_test::write_file(kavel_test::random_file(1, 2, 300, 200, 44), path);
    const auto image = kavel::Image::open(path);
    const std::size_t previous = pool_limit();
    pool_set_limit(100000);
    std::vector<uint8_t> pixels(300 * 200);
    std::string error;
    EXPECT_FALSE(image->decode(0, image->bounds_at(0), pixels.data(), 300, &error));
    pool_set_limit(previous);
    EXPECT_NE(error.find("out of memory"), std::string::npos) << error;
    EXPECT_EQ(pool_block_count(), 0u);
}

}  // namespace
