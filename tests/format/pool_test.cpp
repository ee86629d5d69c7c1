#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

// Large blocks given back serve the next allocations of about their size (zero-filled again for
// pool_calloc); small ones, and blocks released all at once, go back to the system.
TEST(Pool, LargeBlocksGivenBackServeTheNextAllocationsOfTheirSize) {
    pool_free_all();
    pool_release_spares();
    constexpr int32_t kMiB = 1 << 20;
    auto* a = static_cast<unsigned char*>(pool_alloc(kMiB));
    ASSERT_NE(a, nullptr);
    std::memset(a, 0xAB, kMiB);
    EXPECT_EQ(pool_free(a), 0);
    EXPECT_EQ(pool_spare_bytes(), static_cast<std::size_t>(kMiB));
    EXPECT_EQ(pool_bytes_held(), 0u);

    // Too small for the spare (it would waste more than a third of it): fresh memory.
    void* small = pool_alloc(kMiB / 2);
    EXPECT_NE(small, a);
    EXPECT_EQ(pool_spare_bytes(), static_cast<std::size_t>(kMiB));
    auto* b = static_cast<unsigned char*>(pool_calloc(1, kMiB - 4096));
    ASSERT_EQ(b, a);
    EXPECT_EQ(pool_spare_bytes(), 0u);
    EXPECT_EQ(pool_bytes_held(), static_cast<std::size_t>(kMiB / 2 + kMiB - 4096));
    for (int32_t i = 0; i < kMiB - 4096; i += 997) ASSERT_EQ(b[i], 0) << i;
    // Given back again, the block keeps its whole size.
    EXPECT_EQ(pool_free(b), 0);
    EXPECT_EQ(pool_spare_bytes(), static_cast<std::size_t>(kMiB));

    void* tiny = pool_alloc(1000);
    EXPECT_EQ(pool_free(tiny), 0);
    EXPECT_EQ(pool_spare_bytes(), static_cast<std::size_t>(kMiB));
    pool_free_all();  // the half-size block is freed, not kept
    EXPECT_EQ(pool_spare_bytes(), static_cast<std::size_t>(kMiB));
    pool_release_spares();
    EXPECT_EQ(pool_spare_bytes(), 0u);

    // At most 64 MiB are kept.
    std::vector<void*> blocks;
    for (int i = 0; i < 70; ++i) blocks.push_back(pool_alloc(kMiB));
    for (void* block : blocks) EXPECT_EQ(pool_free(block), 0);
    EXPECT_EQ(pool_spare_bytes(), static_cast<std::size_t>(64) * kMiB);
    pool_release_spares();
}

// Blocks of several MiB (placed for large pages) are zero-filled by pool_calloc whether the
// memory is fresh or was written before, and hold their whole size.
TEST(Pool, BlocksOfSeveralMegabytesAreWholeAndZeroFilled) {
    pool_free_all();
    pool_release_spares();
    constexpr int32_t kSize = (5 << 20) + 123;
    for (int round = 0; round < 2; ++round) {
        auto* block = static_cast<unsigned char*>(pool_calloc(1, kSize));
        ASSERT_NE(block, nullptr);
        for (int32_t i = 0; i < kSize; i += 4093) ASSERT_EQ(block[i], 0) << round << " at " << i;
        ASSERT_EQ(block[kSize - 1], 0);
        std::memset(block, 0xCD, kSize);
        EXPECT_EQ(pool_bytes_held(), static_cast<std::size_t>(kSize));
        EXPECT_EQ(pool_free(block), 0);
        // The second round takes fresh memory from the system again, or the dirty block back.
        if (round == 0) pool_release_spares();
    }
    auto* dirty = static_cast<unsigned char*>(pool_alloc(kSize));
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xEF, kSize);
    EXPECT_EQ(pool_free(dirty), 0);
    pool_release_spares();
    auto* again = static_cast<unsigned char*>(pool_calloc(kSize, 1));
    ASSERT_NE(again, nullptr);
    for (int32_t i = 0; i < kSize; i += 4093) ASSERT_EQ(again[i], 0) << i;
    EXPECT_EQ(pool_free(again), 0);
    pool_release_spares();
}

// The spares count with the limit: they are given back before the blocks held and the spares
// together would pass it, and an allocation within the limit is never refused for them.
TEST(Pool, SparesAreGivenBackBeforeTheLimitIsPassed) {
    pool_free_all();
    pool_release_spares();
    pool_clear_limit_reached();
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const std::size_t previous = pool_set_thread_limit(3 * kMiB);
    void* two = pool_alloc(static_cast<int32_t>(2 * kMiB));
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(pool_free(two), 0);
    EXPECT_EQ(pool_spare_bytes(), 2 * kMiB);
    void* first = pool_alloc(static_cast<int32_t>(kMiB));  // 1 held + 2 spare: at the limit
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(pool_spare_bytes(), 2 * kMiB);
    void* second = pool_alloc(static_cast<int32_t>(kMiB));  // the spare must go first
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(pool_spare_bytes(), 0u);
    EXPECT_FALSE(pool_limit_reached());
    EXPECT_EQ(pool_alloc(static_cast<int32_t>(2 * kMiB)), nullptr);  // beyond it: refused
    EXPECT_TRUE(pool_limit_reached());
    pool_set_thread_limit(previous);
    pool_clear_limit_reached();
    pool_free_all();
    pool_release_spares();
}

}  // namespace
