#include "decode/dequantise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "format/pool.h"

namespace {

TEST(DitherTable, MatchesItsPublishedValuesAndStatistics) {
    const float row0_begin[] = {-0.164586f, 0.124951f, -0.201814f, 0.185233f,
                                0.038652f,  0.142900f, 0.096097f,  -0.065617f};
    const float row0_end[] = {-0.000003f, 0.172386f, 0.176074f, -0.204496f};
    const float row1_begin[] = {0.178876f, 0.144467f, 0.039238f, -0.200255f,
                                0.164084f, 0.123598f, 0.204186f, 0.006071f};
    const float row127_end[] = {-0.041220f, 0.228459f, 0.132776f, 0.188835f};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(kDitherTable[i], row0_begin[i]) << i;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(kDitherTable[124 + i], row0_end[i]) << i;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(kDitherTable[128 + i], row1_begin[i]) << i;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(kDitherTable[127 * 128 + 124 + i], row127_end[i]);

    double sum = 0, squares = 0;
    float low = 1, high = -1;
    for (int i = 0; i < 128 * 128; ++i) {
        const float v = kDitherTable[i];
        sum += v;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    const double mean = sum / (128 * 128);
    for (int i = 0; i < 128 * 128; ++i) squares += (kDitherTable[i] - mean) * (kDitherTable[i] - mean);
    EXPECT_EQ(low, -0.249938f);
    EXPECT_EQ(high, 0.249993f);
    EXPECT_NEAR(mean, 0.000466, 0.0000005);
    EXPECT_NEAR(std::sqrt(squares / (128 * 128)), 0.144283, 0.0000005);
}

TEST(Dequantise, DeadZoneReconstructionWithoutDither) {
    const int16_t q[] = {1, -1, 46, 0, -46, 45, 32767, -32768};
    float out[8];
    const RegionRect rect{0, 7, 0, 0};
    ASSERT_EQ(dequantise_block(out, q, 8, 2.0f, rect, nullptr), 0);
    EXPECT_FLOAT_EQ(out[0], 2.12f);
    EXPECT_FLOAT_EQ(out[1], -2.12f);
    EXPECT_FLOAT_EQ(out[2], 92.12f);
    EXPECT_EQ(out[3], 0.0f);
    EXPECT_FLOAT_EQ(out[4], -92.12f);
    // Table entries and the direct formula round the same way.
    EXPECT_EQ(out[5], static_cast<float>((45 - double{0.44f}) * 2.0 + 1.0));
    EXPECT_EQ(out[6], static_cast<float>((32767 - double{0.44f}) * 2.0 + 1.0));
    EXPECT_EQ(out[7], static_cast<float>((-32768 + double{0.44f}) * 2.0 - 1.0));
    EXPECT_EQ(pool_block_count(), 0u);
}

TEST(Dequantise, ZeroOrNanStepGivesZerosEvenWithDither) {
    const int16_t q[] = {5, -5, 0};
    float out[3] = {7, 7, 7};
    const DitherOrigin origin{3, 4};
    ASSERT_EQ(dequantise_block(out, q, 3, 0.0f, {0, 2, 0, 0}, &origin), 0);
    for (float v : out) EXPECT_EQ(v, 0.0f);
    ASSERT_EQ(dequantise_block(out, q, 3, std::nanf(""), {0, 2, 0, 0}, &origin), 0);
    for (float v : out) EXPECT_EQ(v, 0.0f);
}

TEST(Dequantise, DitherIsTakenFromSubbandCoordinatesWithWrap) {
    // A window starting at column 120 with origin 10 uses dither columns 2, 3, ...
    std::vector<int16_t> q(2 * 3, 0);
    std::vector<float> out(q.size());
    const DitherOrigin origin{10, 126};
    const float step = 3.0f;
    ASSERT_EQ(dequantise_block(out.data(), q.data(), 6, step, {120, 122, 1, 2}, &origin), 0);
    for (int r = 0; r < 2; ++r) {
        const int row = (1 + r + 126) % 128;  // 127, then 0
        for (int k = 0; k < 3; ++k) {
            const float d = kDitherTable[row * 128 + 2 + k];
            EXPECT_EQ(out[r * 3 + k], static_cast<float>(0.0 - double{d} * step));
        }
    }
}

TEST(Dequantise, ReconstructionOffsetBits) {
    EXPECT_EQ(reconstruction_offset(), 0.44f);
    EXPECT_EQ(double{reconstruction_offset()}, 0.4399999976158142);
}

}  // namespace
