// The forward transform against the library's reconstruction: analysis followed by the
// reader's synthesis gives the input back to single-precision rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "decode/wavelet.h"
#include "encode/encoder.h"
#include "encode/forward_wavelet.h"
#include "tests/encode/library_reconstruction.h"

namespace kavel {
namespace {

Plane random_plane(int32_t width, int32_t height, uint32_t seed) {
    Plane plane;
    plane.width = width;
    plane.height = height;
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(0.0f, 255.0f);
    plane.samples.resize(std::size_t(width) * std::size_t(height));
    // A smooth ramp plus noise, like a photograph's mix of slow and fast changes.
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            plane.row(y)[x] = 0.5f * sample(random) +
                              0.4f * float(x + 2 * y) / float(width + 2 * height) * 255.0f;
    return plane;
}

double largest_difference(const std::vector<float>& a, const std::vector<float>& b) {
    EXPECT_EQ(a.size(), b.size());
    double worst = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::fabs(double(a[i]) - double(b[i])));
    return worst;
}

TEST(ForwardLine, ReaderSynthesisRebuildsEveryLineLength) {
    std::vector<float> scratch(64);
    for (int32_t n = 1; n <= 40; ++n) {
        SCOPED_TRACE(n);
        std::vector<float> line(std::size_t(n) + 0);
        std::mt19937 random{uint32_t(n)};
        std::uniform_real_distribution<float> sample(-100.0f, 100.0f);
        for (float& v : line) v = sample(random);
        std::vector<float> bands = line;
        analyse_line(bands.data(), 1, n, scratch.data());
        const int32_t low = n - n / 2, high = n / 2;
        if (n == 1) {
            EXPECT_EQ(bands[0], line[0]);  // a single sample is its own low band
            continue;
        }
        // Every window a..b of the line, as the reader computes it.
        for (int32_t a = 0; a < n; ++a) {
            for (int32_t b = a; b < n; ++b) {
                std::vector<float> out(std::size_t(b - a + 1));
                const auto ceil_half = [](int32_t v) { return v >= 0 ? (v + 1) / 2 : v / 2; };
                const int32_t first_low = std::max(0, ceil_half(a - 3));
                const int32_t first_high = std::max(0, ceil_half(a - 5));
                synthesise_line(out.data(), a, b, bands.data() + first_low,
                                bands.data() + low + first_high, 1, low, high);
                for (int32_t i = a; i <= b; ++i)
                    ASSERT_NEAR(out[std::size_t(i - a)], line[std::size_t(i)], 2e-4)
                        << "a=" << a << " b=" << b << " i=" << i;
            }
        }
    }
}

TEST(ForwardLine, ConstantLineHasNoHighBand) {
    std::vector<float> line(9, 7.0f), scratch(9);
    analyse_line(line.data(), 1, 9, scratch.data());
    for (int i = 5; i < 9; ++i) EXPECT_NEAR(line[std::size_t(i)], 0.0f, 1e-5);
    // The low band carries the constant times the low-pass gain sqrt(c).
    EXPECT_NEAR(line[0], 7.0 * std::sqrt(kScaleStepDivisor), 1e-3);
}

struct Shape {
    int32_t width, height;
};

class ForwardTransform : public ::testing::TestWithParam<Shape> {};

TEST_P(ForwardTransform, LibraryReconstructionReturnsTheInputAtEveryLevelCount) {
    const Shape shape = GetParam();
    const Plane original =
        random_plane(shape.width, shape.height, uint32_t(shape.width * 131 + shape.height));
    for (int32_t levels = 0; levels <= max_level_count(shape.width, shape.height); ++levels) {
        SCOPED_TRACE(levels);
        Plane plane = original;
        forward_wavelet(&plane, levels);
        const std::vector<float> rebuilt = kavel_test::reconstruct_plane(plane, levels, 0);
        // Single-precision rounding of values up to 255 through a few lifting steps per level.
        EXPECT_LT(largest_difference(rebuilt, original.samples), 1e-3 * (levels + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ForwardTransform,
                         ::testing::Values(Shape{64, 48}, Shape{37, 53}, Shape{1, 1}, Shape{1, 9},
                                           Shape{9, 1}, Shape{2, 2}, Shape{3, 5}, Shape{17, 4},
                                           Shape{128, 1}, Shape{33, 33}));

TEST(ForwardTransform, LowLowBandIsTheImageAtEachScale) {
    // A smooth picture: at scale s the reader's low-low band alone (divided by c^s) is the
    // picture shrunk by 2^s, so its mean stays the picture's mean.
    Plane plane;
    plane.width = 96;
    plane.height = 80;
    plane.samples.resize(96 * 80);
    double mean = 0;
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 96; ++x) {
            plane.row(y)[x] = float(100 + 50 * std::sin(x * 0.05) * std::cos(y * 0.04));
            mean += plane.row(y)[x];
        }
    mean /= 96 * 80;
    forward_wavelet(&plane, 3);
    for (int32_t scale = 1; scale <= 3; ++scale) {
        const std::vector<float> small = kavel_test::reconstruct_plane(plane, 3, scale);
        const BandSize size = band_size_at_scale(96, 80, scale);
        ASSERT_EQ(small.size(), std::size_t(size.width) * std::size_t(size.height));
        double small_mean = 0;
        for (float v : small) small_mean += v;
        small_mean /= double(small.size());
        EXPECT_NEAR(small_mean, mean, 2.0) << "scale " << scale;
    }
}

TEST(ColourTransform, ForwardMatrixInvertsTheReadersConversion) {
    const double* m = forward_colour_matrix();
    // The reader: R = Y + 0.94521606 I + 0.63271606 Q, G = Y - 0.28935185 I - 0.6018519 Q,
    // B = Y - 1.099537 I + 1.712963 Q.
    const double reader[3][3] = {
        {1, 0.94521606, 0.63271606}, {1, -0.28935185, -0.6018519}, {1, -1.099537, 1.712963}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += reader[r][k] * m[k * 3 + c];
            EXPECT_NEAR(sum, r == c ? 1.0 : 0.0, 1e-6);
        }
    // Grey stays in luminance.
    EXPECT_NEAR(m[0] + m[1] + m[2], 1.0, 1e-6);
    EXPECT_NEAR(m[3] + m[4] + m[5], 0.0, 1e-6);
    EXPECT_NEAR(m[6] + m[7] + m[8], 0.0, 1e-6);
}

TEST(ColourTransform, PictureRoundTripsThroughTheReadersConversion) {
    Picture picture;
    picture.width = 5;
    picture.height = 3;
    picture.channels = 3;
    for (int i = 0; i < 45; ++i) picture.samples.push_back(uint8_t(i * 37 % 256));
    const std::vector<uint8_t> original = picture.samples;
    TransformedImage image;
    std::string error;
    ASSERT_TRUE(transform_picture(picture, 0, &image, &error)) << error;
    for (int i = 0; i < 15; ++i) {
        const double y = image.planes[0].samples[std::size_t(i)];
        const double iv = image.planes[1].samples[std::size_t(i)];
        const double q = image.planes[2].samples[std::size_t(i)];
        // Half a level up, so that the reader's truncation gives the original.
        EXPECT_EQ(int(y + 0.94521606 * iv + 0.63271606 * q), original[std::size_t(3 * i)]);
        EXPECT_EQ(int(y - 0.28935185 * iv - 0.6018519 * q), original[std::size_t(3 * i + 1)]);
        EXPECT_EQ(int(y - 1.099537 * iv + 1.712963 * q), original[std::size_t(3 * i + 2)]);
    }
}

TEST(SubbandLayout, RectsTileThePlane) {
    for (const Shape shape : {Shape{101, 75}, Shape{1, 7}, Shape{64, 64}}) {
        const int32_t levels = max_level_count(shape.width, shape.height);
        std::vector<int> covered(std::size_t(shape.width) * std::size_t(shape.height), 0);
        for (int32_t k = 0; k < subband_count(levels); ++k) {
            const SubbandRect r = subband_rect(shape.width, shape.height, levels, k);
            EXPECT_EQ((BandSize{r.width, r.height}),
                      subband_size(shape.width, shape.height, levels, k));
            for (int32_t y = r.y0; y < r.y0 + r.height; ++y)
                for (int32_t x = r.x0; x < r.x0 + r.width; ++x)
                    ++covered[std::size_t(y) * std::size_t(shape.width) + std::size_t(x)];
        }
        for (int c : covered) EXPECT_EQ(c, 1);
    }
}

}  // namespace
}  // namespace kavel
