// The encoder end to end: photographs in, Kavel files out, read back by the library.
#include "encode/encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "tests/support/reference/reference_decoder.h"
#include "format/kavel.h"
#include "tests/encode/picture_crop.h"
#include "tests/support/test_files.h"
#include "tools/picture_reader.h"

namespace kavel {
namespace {

const Picture& photo(const std::string& name) {
    static std::map<std::string, Picture> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        Picture picture;
        std::string error;
        EXPECT_TRUE(read_picture(std::string(KAVEL_DATA_DIR) + "/" + name, &picture, &error))
            << error;
        it = cache.emplace(name, std::move(picture)).first;
    }
    return it->second;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    EXPECT_EQ(a.size(), b.size());
    double sum = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

class EncoderRoundTrip : public ::testing::Test {
  protected:
    // Encodes, writes, decodes the whole image at scale 0; returns the pixels.
    std::vector<uint8_t> round_trip(const Picture& picture, const EncoderOptions& options,
                                    EncodeResult* result = nullptr) {
        EncodeResult local;
        EncodeResult& r = result ? *result : local;
        std::string error;
        EXPECT_TRUE(encode_picture(picture, options, &r, &error)) << error;
        EXPECT_TRUE(write_kavel_file(r.file, path_, &error)) << error;
        EXPECT_EQ(kavel_test::read_bytes(path_).size(), r.bytes);
        std::vector<uint8_t> pixels;
        EXPECT_TRUE(kavel_test::decode_window(path_, 0, 0, 0, picture.width - 1, picture.height - 1,
                                              &pixels, picture.channels));
        return pixels;
    }

    kavel_test::TempDir dir_;
    std::string path_ = dir_.path("photo.kvl");
};

TEST_F(EncoderRoundTrip, GreyPhotographAtSeveralLevelCounts) {
    const Picture& camera = photo("camera.png");
    ASSERT_EQ(camera.channels, 1);
    for (int32_t levels : {0, 1, 3, -1}) {
        SCOPED_TRACE(levels);
        EncoderOptions options;
        options.levels = levels;
        EncodeResult result;
        const auto pixels = round_trip(camera, options, &result);
        EXPECT_EQ(result.levels, levels < 0 ? 4 : levels);  // 512 -> 32 pixels after 4 splits
        EXPECT_GT(psnr(pixels, camera.samples), levels == 0 ? 36.0 : 38.0);
        const double bpp = double(result.bytes) * 8 / (512.0 * 512.0);
        EXPECT_LT(bpp, levels == 0 ? 4.0 : levels == 1 ? 2.6 : 2.0);
    }
}

TEST_F(EncoderRoundTrip, ColourPhotographDefaultFineAndCoarse) {
    const Picture& astronaut = photo("astronaut.png");
    ASSERT_EQ(astronaut.channels, 3);
    EncoderOptions options;  // quality 75
    EXPECT_GT(psnr(round_trip(astronaut, options), astronaut.samples), 36.0);
    options.mode = RateMode::step;
    options.step = 1.0;  // a very fine step: nearly lossless
    EXPECT_GT(psnr(round_trip(astronaut, options), astronaut.samples), 45.0);
    options.mode = RateMode::quality;
    options.quality = 1;  // the coarsest setting still gives the picture's broad shapes
    EncodeResult result;
    EXPECT_GT(psnr(round_trip(astronaut, options, &result), astronaut.samples), 15.0);
    EXPECT_LT(result.bytes, 2000u);
}

TEST_F(EncoderRoundTrip, FinestStepIsNearlyLosslessForGrey) {
    EncoderOptions options;
    options.mode = RateMode::step;
    options.step = 0.25;
    const Picture part = crop(photo("camera.png"), 100, 80, 200, 150);
    EXPECT_GT(psnr(round_trip(part, options), part.samples), 60.0);
}

TEST_F(EncoderRoundTrip, HigherQualityNeverCostsLessOrLooksWorse) {
    const Picture part = crop(photo("coffee.png"), 50, 50, 256, 192);
    double last_psnr = 0;
    uint64_t last_bytes = 0;
    for (double quality : {20.0, 50.0, 75.0, 90.0}) {
        EncoderOptions options;
        options.quality = quality;
        EncodeResult result;
        const double p = psnr(round_trip(part, options, &result), part.samples);
        EXPECT_GT(p, last_psnr) << quality;
        EXPECT_GT(result.bytes, last_bytes) << quality;
        last_psnr = p;
        last_bytes = result.bytes;
    }
}

TEST_F(EncoderRoundTrip, BitsPerPixelTargetIsReached) {
    for (const char* name : {"camera.png", "astronaut.png"}) {
        for (double bpp : {0.5, 1.0, 2.0}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(bpp));
            const Picture picture = crop(photo(name), 128, 100, 300, 256);
            EncoderOptions options;
            options.mode = RateMode::bpp;
            options.bpp = bpp;
            EncodeResult result;
            std::string error;
            ASSERT_TRUE(encode_picture(picture, options, &result, &error)) << error;
            const double reached =
                double(result.bytes) * 8 / (double(picture.width) * picture.height);
            EXPECT_NEAR(reached, bpp, 0.05 * bpp);
            EXPECT_EQ(encoded_file_size(result.file), result.bytes);
        }
    }
}

TEST_F(EncoderRoundTrip, EveryScaleAndWindowOfTheFileIsThePicture) {
    const Picture part = crop(photo("astronaut.png"), 64, 32, 300, 260);
    EncoderOptions options;
    options.tile_size = 64;  // several tiles per subband
    options.block_size = 24;
    EncodeResult result;
    round_trip(part, options, &result);
    for (int32_t scale = 0; scale <= result.levels; ++scale) {
        SCOPED_TRACE(scale);
        const int32_t w = size_at_scale(300, scale), h = size_at_scale(260, scale);
        std::vector<uint8_t> whole;
        ASSERT_TRUE(kavel_test::decode_window(path_, scale, 0, 0, w - 1, h - 1, &whole, 3));
        // The mean brightness is the picture's at every scale.
        double mean = 0, original = 0;
        for (uint8_t v : whole) mean += v;
        for (uint8_t v : part.samples) original += v;
        EXPECT_NEAR(mean / double(whole.size()), original / double(part.samples.size()), 2.0);
        // A window equals the same part of the whole.
        const int32_t x0 = w / 3, y0 = h / 5, x1 = std::min(w - 1, x0 + 70),
                      y1 = std::min(h - 1, y0 + 90);
        std::vector<uint8_t> window;
        ASSERT_TRUE(kavel_test::decode_window(path_, scale, x0, y0, x1, y1, &window, 3));
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x)
                for (int32_t c = 0; c < 3; ++c)
                    ASSERT_EQ(window[(std::size_t(y - y0) * std::size_t(x1 - x0 + 1) +
                                      std::size_t(x - x0)) *
                                         3 +
                                     std::size_t(c)],
                              whole[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3 +
                                    std::size_t(c)]);
    }
}

TEST_F(EncoderRoundTrip, TileAndBlockLayoutsAllDecode) {
    const Picture part = crop(photo("camera.png"), 120, 100, 150, 110);
    struct Case {
        int32_t tile, block;
    };
    for (const Case c :
         {Case{0, 64}, Case{16, 16}, Case{37, 10}, Case{100, 7}, Case{5, 3}, Case{65535, 65535}}) {
        SCOPED_TRACE(std::to_string(c.tile) + "/" + std::to_string(c.block));
        EncoderOptions options;
        options.tile_size = c.tile;
        options.block_size = c.block;
        EncodeResult result;
        const auto pixels = round_trip(part, options, &result);
        // Tiny tiles pay a code table per few coefficients: lower quality for the same step.
        EXPECT_GT(psnr(pixels, part.samples), c.tile < 10 ? 32.0 : 37.0);
        // The tiles cut every subband as asked.
        const auto sizes = subband_sizes(150, 110, result.levels);
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            const int32_t side = c.tile ? c.tile : 256;
            const auto& tiles = result.file.subbands[k].tiles;
            const int64_t across = (sizes[k].width + side - 1) / side,
                          down = (sizes[k].height + side - 1) / side;
            EXPECT_EQ(int64_t(tiles.size()), across * down);
            for (const auto& tile : tiles) {
                EXPECT_LE(tile.x1 - tile.x0 + 1, side);
                for (const auto& stream : tile.planes)
                    if (stream) {
                        EXPECT_EQ(stream->block_width, c.block);
                    }
            }
        }
    }
}

TEST_F(EncoderRoundTrip, LayoutOrderDoesNotChangeThePixels) {
    const Picture part = crop(photo("chelsea.png"), 0, 0, 120, 90);
    std::vector<uint8_t> first;
    for (LayoutOrder order :
         {LayoutOrder::natural, LayoutOrder::directories_last, LayoutOrder::reversed,
          LayoutOrder::index_first, LayoutOrder::by_place}) {
        SCOPED_TRACE(int(order));
        EncoderOptions options;
        options.layout = {order, 2};
        options.tile_size = 32;
        options.block_size = 8;  // several blocks per tile, to be sorted by place
        const auto pixels = round_trip(part, options);
        if (first.empty()) first = pixels;
        EXPECT_EQ(pixels, first);
        // The straightforward decoder reads the same file to the same pixels, whole and in
        // a window at scale 1.
        std::vector<uint8_t> reference, window, reference_window;
        ASSERT_TRUE(kavel_test::decode_window(path_, 1, 5, 7, 40, 30, &window, 3));
        EXPECT_TRUE(kavel_test::decode_window(path_, 0, 0, 0, 119, 89, &reference, 3,
                                              reference_decoder()));
        EXPECT_TRUE(kavel_test::decode_window(path_, 1, 5, 7, 40, 30, &reference_window, 3,
                                              reference_decoder()));
        EXPECT_EQ(reference, pixels);
        EXPECT_EQ(reference_window, window);
    }
}

TEST_F(EncoderRoundTrip, TinyAndOnePixelWidePictures) {
    struct Case {
        int32_t width, height, channels;
    };
    for (const Case c : {Case{1, 1, 1}, Case{1, 1, 3}, Case{1, 37, 1}, Case{29, 1, 3},
                         Case{2, 3, 3}, Case{3, 2, 1}, Case{65, 1, 1}}) {
        Picture picture;
        picture.width = c.width;
        picture.height = c.height;
        picture.channels = c.channels;
        for (int32_t i = 0; i < c.width * c.height * c.channels; ++i)
            picture.samples.push_back(uint8_t((i * 53 + 20) % 230 + 10));
        for (int32_t levels = 0; levels <= max_level_count(c.width, c.height); ++levels) {
            SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) +
                         " L=" + std::to_string(levels));
            EncoderOptions options;
            options.levels = levels;
            options.mode = RateMode::step;
            options.step = 0.5;
            const auto pixels = round_trip(picture, options);
            EXPECT_GT(psnr(pixels, picture.samples), 45.0);
        }
    }
}

TEST_F(EncoderRoundTrip, FlatPictureComesBackExactlyAtAFineStep) {
    // At coarse steps a flat area comes back within the step (the dither of the low band
    // spreads the error), at quality 90 and finer exactly.
    EncoderOptions options;
    options.quality = 90;
    for (uint8_t level : {uint8_t(0), uint8_t(1), uint8_t(128), uint8_t(254), uint8_t(255)}) {
        Picture picture;
        picture.width = 70;
        picture.height = 50;
        picture.channels = 3;
        picture.samples.assign(70 * 50 * 3, level);
        EXPECT_EQ(round_trip(picture, options), picture.samples) << int(level);
    }
}

TEST(EncoderErrors, RefusesWhatItCannotEncode) {
    Picture picture;
    picture.width = 20;
    picture.height = 9;
    picture.channels = 1;
    picture.samples.assign(180, 100);
    EncodeResult result;
    std::string error;
    EncoderOptions options;
    options.levels = max_level_count(20, 9) + 1;
    EXPECT_FALSE(encode_picture(picture, options, &result, &error));
    EXPECT_NE(error.find("too many"), std::string::npos) << error;
    EXPECT_EQ(max_level_count(20, 9), 5);  // 20 -> 10 -> 5 -> 3 -> 2 -> 1

    options = EncoderOptions{};
    options.max_file_size = 100;  // as if the file outgrew the 32-bit offsets
    EXPECT_FALSE(encode_picture(picture, options, &result, &error));
    EXPECT_NE(error.find("32-bit offsets"), std::string::npos) << error;
    options.mode = RateMode::bpp;
    options.bpp = 8;  // 180 bytes
    EXPECT_FALSE(encode_picture(picture, options, &result, &error));

    options = EncoderOptions{};
    Picture two = picture;
    two.channels = 2;
    two.samples.resize(360);
    EXPECT_FALSE(encode_picture(two, options, &result, &error));
    Picture wrong = picture;
    wrong.samples.pop_back();
    EXPECT_FALSE(encode_picture(wrong, options, &result, &error));
    Picture huge = picture;
    huge.width = 100000;
    huge.height = 100000;  // refused before anything is allocated
    EXPECT_FALSE(encode_picture(huge, options, &result, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    options.mode = RateMode::step;
    options.step = -1;
    EXPECT_FALSE(encode_picture(picture, options, &result, &error));
    options.mode = RateMode::quality;
    options.quality = 0;
    EXPECT_FALSE(encode_picture(picture, options, &result, &error));
}

TEST(EncoderSettings, LevelCountsTileSizesAndQualityScale) {
    EXPECT_EQ(default_level_count(512, 512), 4);  // 32 < 64
    EXPECT_EQ(default_level_count(63, 10), 0);
    EXPECT_EQ(default_level_count(64, 10), 1);
    EXPECT_EQ(default_level_count(16384, 16384), 9);
    EXPECT_EQ(max_level_count(1, 1), 0);
    EXPECT_EQ(max_level_count(2, 1), 1);
    EXPECT_EQ(max_level_count(100, 75), 7);
    EXPECT_EQ(tile_size_for(256, 256, 64), 256);
    EXPECT_EQ(tile_size_for(2048, 2048, 64), 512);
    EXPECT_EQ(tile_size_for(8192, 8192, 64), 1024);
    EXPECT_EQ(tile_size_for(100, 100, 8), 64);  // at least 4 blocks on a side
    EXPECT_EQ(block_size_for(1, 64, 32), 64);
    EXPECT_EQ(block_size_for(2, 64, 32), 32);
    EXPECT_EQ(block_size_for(7, 64, 32), 32);
    EXPECT_EQ(block_size_for(3, 64, 16), 16);
    EXPECT_GT(step_for_quality(1), step_for_quality(50));
    EXPECT_GT(step_for_quality(50), step_for_quality(75));
    EXPECT_GT(step_for_quality(75), step_for_quality(100));
    EXPECT_DOUBLE_EQ(step_for_quality(75), 8.0);
}

}  // namespace
}  // namespace kavel
