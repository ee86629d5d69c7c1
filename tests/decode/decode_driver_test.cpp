#include "decode/decode_driver.h"

#include <gtest/gtest.h>

#include <cmath>

#include "format/pool.h"

namespace {

TEST(EffectiveStep, DividesByGainAndThePerScaleDivisor) {
    EXPECT_EQ(scale_step_divisor(), 1.5133294761940657);
    EXPECT_NEAR(std::pow(scale_step_divisor(), 2), 2.29016, 0.00001);
    EXPECT_EQ(effective_step(4.0f, 1.0f, 0), 4.0f);
    EXPECT_EQ(effective_step(3.0f, 1.3215892f, 0), static_cast<float>(3.0 / double{1.3215892f}));
    EXPECT_EQ(effective_step(3.0f, 0.7566647f, 0), static_cast<float>(3.0 / double{0.7566647f}));
    const double c2 = std::pow(1.5133294761940657, 2.0);
    EXPECT_EQ(effective_step(5.0f, 0.75f, 2), static_cast<float>(((1.0 / c2) / 0.75) * 5.0));
    EXPECT_EQ(effective_step(0.0f, 0.75f, 2), 0.0f);
}

TEST(Rects, MeetWithInclusiveBoundsAndIntersect) {
    const RegionRect a{0, 9, 0, 9};
    EXPECT_TRUE(rects_meet(a, {9, 20, 9, 20}));  // touching in one corner
    EXPECT_FALSE(rects_meet(a, {10, 20, 0, 9}));
    EXPECT_FALSE(rects_meet(a, {0, 9, -5, -1}));
    const RegionRect i = rect_intersection(a, {5, 20, -3, 4});
    EXPECT_EQ(i.x0, 5);
    EXPECT_EQ(i.x1, 9);
    EXPECT_EQ(i.y0, 0);
    EXPECT_EQ(i.y1, 4);
}

TEST(BlockGrid, LastRowAndColumnAreSmaller) {
    BlockEntry* blocks = nullptr;
    int32_t count = 0;
    ASSERT_EQ(make_block_grid(100, 70, 64, 32, &blocks, &count), 0);
    ASSERT_EQ(count, 6);
    EXPECT_EQ(blocks[1].column, 64);
    EXPECT_EQ(blocks[1].width, 36);
    EXPECT_EQ(blocks[1].row, 0);
    EXPECT_EQ(blocks[4].row, 64);
    EXPECT_EQ(blocks[4].height, 6);
    EXPECT_EQ(blocks[5].width, 36);
    EXPECT_EQ(blocks[0].offset, 0);
    pool_free(blocks);

    ASSERT_EQ(make_block_grid(0, 10, 8, 8, &blocks, &count), 0);  // a tile with no columns
    EXPECT_EQ(count, 0);
    EXPECT_EQ(make_block_grid(10, 10, 0, 8, &blocks, &count), 1);
    EXPECT_EQ(make_block_grid(10, 10, 8, -1, &blocks, &count), 1);
    EXPECT_EQ(make_block_grid(65536, 1, 8, 8, &blocks, &count), 1);
    EXPECT_EQ(pool_block_count(), 0u);
}

}  // namespace
