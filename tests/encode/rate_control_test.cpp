// Rate control: --bpp reaches its size in at most two coding passes, for several kinds of
// picture and targets; the rate model it steers by.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "encode/encoder.h"
#include "encode/rate_model.h"
#include "tests/encode/picture_crop.h"
#include "tools/picture_reader.h"

namespace kavel {
namespace {

Picture read_photo(const char* name, int32_t x0, int32_t y0, int32_t width, int32_t height) {
    Picture whole;
    std::string error;
    EXPECT_TRUE(read_picture(std::string(KAVEL_DATA_DIR) + "/" + name, &whole, &error)) << error;
    return crop(whole, x0, y0, width, height);
}

// A smooth gradient with noise on one half and sharp-edged bars (like text) on the other.
Picture synthetic(int32_t width, int32_t height, int32_t channels) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.channels = channels;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 6.0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t c = 0; c < channels; ++c) {
                double v = x < width / 2 ? 60 + 0.5 * y + 20 * c + noise(random)
                                         : (((x / 3) % 4 == 0 && (y / 9) % 2 == 0) ? 20 : 235);
                picture.samples.push_back(uint8_t(std::clamp(v, 0.0, 255.0)));
            }
    return picture;
}

TEST(RateControl, SizeWithinTwoPercentInAtMostTwoPasses) {
    struct Case {
        const char* name;
        Picture picture;
    };
    const Case cases[] = {{"grey photograph", read_photo("camera.png", 40, 60, 320, 288)},
                          {"colour photograph", read_photo("astronaut.png", 100, 0, 352, 320)},
                          {"starry night", read_photo("hubble_deep_field.png", 0, 0, 400, 300)},
                          {"synthetic colour", synthetic(300, 260, 3)}};
    for (const Case& c : cases) {
        for (double bpp : {0.25, 1.0, 3.0}) {
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(bpp));
            EncoderOptions options;
            options.mode = RateMode::bpp;
            options.bpp = bpp;
            EncodeResult result;
            std::string error;
            ASSERT_TRUE(encode_picture(c.picture, options, &result, &error)) << error;
            const double reached =
                double(result.bytes) * 8 / (double(c.picture.width) * c.picture.height);
            // Within 2 %; files of a few kilobytes have so few tiles that the last one moved
            // can leave up to 5 %.
            const double target_bytes = bpp * c.picture.width * c.picture.height / 8;
            EXPECT_NEAR(reached, bpp, (target_bytes < 8000 ? 0.05 : 0.02) * bpp);
            EXPECT_GE(result.passes, 1);
            EXPECT_LE(result.passes, 2);
            EXPECT_EQ(encoded_file_size(result.file), result.bytes);
        }
    }
}

TEST(RateControl, UnreachableTargetGivesTheSmallestFile) {
    // No step makes a 96 x 80 picture fit in 1 byte: the coder ends at the coarsest step,
    // still within two passes, with a file no larger than the coarsest step gives.
    const Picture picture = synthetic(96, 80, 1);
    EncoderOptions options;
    options.mode = RateMode::bpp;
    options.bpp = 0.001;
    EncodeResult result, coarsest;
    std::string error;
    ASSERT_TRUE(encode_picture(picture, options, &result, &error)) << error;
    EXPECT_LE(result.passes, 2);
    options.mode = RateMode::step;
    options.step = 1e6;
    ASSERT_TRUE(encode_picture(picture, options, &coarsest, &error)) << error;
    EXPECT_LE(result.bytes, coarsest.bytes);
}

TEST(RateModel, CalibratedPredictionMatchesAtItsStepAndFallsWithTheStep) {
    std::mt19937 random(3);
    std::exponential_distribution<float> laplace(0.1f);
    std::vector<MagnitudeHistogram> tiles(3);
    for (int i = 0; i < 20000; ++i) tiles[std::size_t(i % 3)].add(laplace(random) * float(1 + i % 3));
    tiles[2] = MagnitudeHistogram{};  // an empty tile
    RateModel model(tiles, 100.0);
    EXPECT_NEAR(model.uncalibrated_bytes(1e9, 1.0), 100.0, 1e-6);  // only the fixed bytes
    double last = std::numeric_limits<double>::infinity();
    for (double step : {0.5, 1.0, 2.0, 4.0, 8.0, 16.0}) {
        const double bytes = model.uncalibrated_bytes(step, 1.0);
        EXPECT_LT(bytes, last) << step;
        last = bytes;
    }
    // Tile 0 coded to 8000 bits at step 4, tile 1 left out, tile 2 empty.
    model.calibrate(4.0, {8000.0, 0.0, 0.0}, 120.0);
    EXPECT_NEAR(model.predicted_bytes(4.0), 120.0 + 1000.0, 1e-6);
    EXPECT_NEAR(model.predicted_bytes(1e9), 120.0, 1e-6);
    // Below the calibration step, the tile left out starts to count.
    const double finer = model.predicted_bytes(2.0);
    EXPECT_GT(finer, 120.0 + 1000.0 * tiles[0].model_bits(2.0) / tiles[0].model_bits(4.0));
    // The solver finds the step of a size between two others.
    const auto size = [&](double s) { return model.predicted_bytes(s); };
    const double step = RateModel::solve(size, 900.0, 1e-3, 1e6);
    EXPECT_NEAR(model.predicted_bytes(step), 900.0, 1.0);
    EXPECT_EQ(RateModel::solve(size, 1.0, 1e-3, 1e6), 1e6);  // below the fixed bytes
}

}  // namespace
}  // namespace kavel
