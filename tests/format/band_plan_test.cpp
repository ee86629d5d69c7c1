#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "format/pool.h"
#include "format/region_request.h"

namespace {

RegionRequest request_for(int32_t levels, int32_t scale, int32_t width, int32_t height) {
    RegionRequest r{};
    r.levels = levels;
    r.scale = scale;
    r.width = width;
    r.height = height;
    return r;
}

struct Leaf {
    int32_t subband, width, height;
    float gain;
};

// Leaves in the walk order 0, 2, 1, 3.
void collect(const BandNode* node, std::vector<Leaf>* leaves) {
    if (!node->split) {
        leaves->push_back({node->subband, node->size[0], node->size[1], node->gain});
        return;
    }
    for (int c : {0, 2, 1, 3}) collect(node->children[c], leaves);
}

TEST(BandPlan, SizesAndNumbersOfA101By75ImageWithTwoLevels) {
    pool_free_all();
    const RegionRequest request = request_for(2, 0, 101, 75);
    BandNode* plan = nullptr;
    ASSERT_EQ(build_band_plan(&plan, &request), 0);
    EXPECT_EQ(plan->size[0], 101);
    EXPECT_EQ(plan->size[1], 75);
    EXPECT_EQ(plan->gain, 1.0f);
    std::vector<Leaf> leaves;
    collect(plan, &leaves);
    ASSERT_EQ(leaves.size(), 7u);
    const int32_t expected[7][3] = {{0, 26, 19}, {1, 25, 19}, {2, 26, 19}, {3, 25, 19},
                                    {4, 50, 38}, {5, 51, 37}, {6, 50, 37}};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(leaves[i].subband, expected[i][0]);
        EXPECT_EQ(leaves[i].width, expected[i][1]) << i;
        EXPECT_EQ(leaves[i].height, expected[i][2]) << i;
    }
    release_band_plan(plan);
    EXPECT_EQ(pool_block_count(), 0u);
}

TEST(BandPlan, GainsAreRoundedOncePerNode) {
    pool_free_all();
    const RegionRequest request = request_for(1, 0, 8, 8);
    BandNode* plan = nullptr;
    ASSERT_EQ(build_band_plan(&plan, &request), 0);
    EXPECT_EQ(band_gain_low(), 1.149604f);
    EXPECT_EQ(band_gain_high(), 0.86986476f);
    EXPECT_FLOAT_EQ(plan->children[0]->gain, 1.3215892f);
    EXPECT_EQ(plan->children[0]->gain,
              static_cast<float>(1.0 * double{band_gain_low()} * double{band_gain_low()}));
    EXPECT_FLOAT_EQ(plan->children[3]->gain, 0.7566647f);
    EXPECT_FLOAT_EQ(plan->children[1]->gain, 1.149604f * 0.86986476f);
    EXPECT_EQ(plan->children[1]->gain, plan->children[2]->gain);
    release_band_plan(plan);
}

TEST(BandPlan, CoarserScalesKeepTheSubtreeAndItsNumbers) {
    pool_free_all();
    const RegionRequest at_two = request_for(2, 2, 101, 75);
    BandNode* plan = nullptr;
    ASSERT_EQ(build_band_plan(&plan, &at_two), 0);
    EXPECT_FALSE(plan->split);
    EXPECT_EQ(plan->subband, 0);
    EXPECT_EQ(plan->size[0], 26);
    EXPECT_EQ(plan->size[1], 19);
    release_band_plan(plan);

    const RegionRequest at_one = request_for(2, 1, 101, 75);
    ASSERT_EQ(build_band_plan(&plan, &at_one), 0);
    std::vector<Leaf> leaves;
    collect(plan, &leaves);
    ASSERT_EQ(leaves.size(), 4u);
    EXPECT_EQ(plan->size[0], 51);
    EXPECT_EQ(plan->size[1], 38);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(leaves[i].subband, i);
    release_band_plan(plan);
    EXPECT_EQ(pool_block_count(), 0u);
}

TEST(BandPlan, ScaleBeyondTheTreeIsReported) {
    pool_free_all();
    const RegionRequest request = request_for(1, 3, 8, 8);
    BandNode* plan = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(build_band_plan(&plan, &request), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Scale 3 is not present.\n");
    pool_free_all();
}

TEST(BandPlan, OnePixelWideImageHasEmptyHighBands) {
    pool_free_all();
    const RegionRequest request = request_for(2, 0, 1, 5);
    BandNode* plan = nullptr;
    ASSERT_EQ(build_band_plan(&plan, &request), 0);
    EXPECT_EQ(plan->children[2]->size[0], 0);
    EXPECT_EQ(plan->children[2]->size[1], 3);
    EXPECT_EQ(plan->children[0]->children[3]->size[0], 0);
    EXPECT_EQ(plan->children[0]->children[3]->size[1], 1);
    release_band_plan(plan);
}

}  // namespace
