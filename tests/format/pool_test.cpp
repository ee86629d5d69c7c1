#include <gtest/gtest.h>

#include <string>

#include "format/pool.h"

namespace {

const std::string kWarning = "Warning: pointer not found.\n";

// Runs f and returns what it wrote to (stdout, stderr).
template <typename F>
std::pair<std::string, std::string> captured(F f) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    std::string out = testing::internal::GetCapturedStdout();
    return {out, testing::internal::GetCapturedStderr()};
}

TEST(Pool, ZeroSizesFollowTheirRules) {
    pool_free_all();
    void* one = pool_alloc(0);
    ASSERT_NE(one, nullptr);
    static_cast<char*>(one)[0] = 'x';
    EXPECT_EQ(pool_calloc(0, 8), nullptr);
    EXPECT_EQ(pool_calloc(8, 0), nullptr);
    EXPECT_EQ(pool_block_count(), 1u);
    EXPECT_EQ(pool_free(one), 0);
    EXPECT_EQ(pool_block_count(), 0u);
}

TEST(Pool, CallocZeroFillsAndRefusesProductsBeyondThirtyTwoBits) {
    pool_free_all();
    auto* p = static_cast<unsigned char*>(pool_calloc(100, 3));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(p[i], 0);
    EXPECT_EQ(pool_calloc(65536, 65536), nullptr);
    EXPECT_EQ(pool_alloc(-1), nullptr);
    EXPECT_EQ(pool_block_count(), 1u);
    pool_free_all();
}

TEST(Pool, ReleasingTwiceOrUnknownWarnsOnBothStreams) {
    pool_free_all();
    void* a = pool_alloc(16);
    EXPECT_EQ(pool_free(a), 0);
    int second = 0;
    auto [out, err] = captured([&] { second = pool_free(a); });
    EXPECT_EQ(second, 1);
    EXPECT_EQ(out, kWarning);
    EXPECT_EQ(err, kWarning);

    int local = 0;
    auto [out2, err2] = captured([&] { EXPECT_EQ(pool_free(&local), 1); });
    EXPECT_EQ(out2, kWarning);
    EXPECT_EQ(err2, kWarning);
}

TEST(Pool, ReleasingHeadMiddleAndTailKeepsTheOthers) {
    pool_free_all();
    void* blocks[5];
    for (void*& b : blocks) b = pool_alloc(8);
    EXPECT_EQ(pool_free(blocks[0]), 0);  // head
    EXPECT_EQ(pool_free(blocks[2]), 0);  // middle
    EXPECT_EQ(pool_free(blocks[4]), 0);  // tail
    EXPECT_EQ(pool_block_count(), 2u);
    EXPECT_EQ(pool_free(blocks[1]), 0);
    EXPECT_EQ(pool_free(blocks[3]), 0);
    EXPECT_EQ(pool_block_count(), 0u);
    EXPECT_EQ(pool_bytes_held(), 0u);
}

TEST(Pool, FreeAllEmptiesThePoolAndItIsUsableAgain) {
    pool_free_all();
    void* a = pool_alloc(10);
    pool_calloc(2, 2);
    pool_free_all();
    EXPECT_EQ(pool_block_count(), 0u);
    auto [out, err] = captured([&] { EXPECT_EQ(pool_free(a), 1); });
    EXPECT_EQ(err, kWarning);
    void* b = pool_alloc(4);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(pool_free(b), 0);
}

TEST(Pool, LimitBoundsTheBytesHeld) {
    pool_free_all();
    const std::size_t previous = pool_limit();
    pool_set_limit(1000);
    void* a = pool_alloc(600);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(pool_alloc(600), nullptr);
    EXPECT_EQ(pool_calloc(10, 50), nullptr);
    EXPECT_NE(pool_alloc(400), nullptr);
    pool_free_all();
    pool_set_limit(previous);
}

}  // namespace
