// The GDAL driver's block cache for network files, against a source that records each fetch.
#include "gdal/block_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using kavel_gdal::BlockCache;
constexpr uint64_t kBlock = BlockCache::kBlockSize;

struct Range {
    uint64_t offset;
    size_t length;
    bool operator==(const Range&) const = default;
};

// A source of size bytes (byte i is i * 7 mod 251) that notes every fetch call and its ranges.
struct RecordingSource {
    explicit RecordingSource(uint64_t source_size) : size(source_size) {}
    BlockCache::Fetch fetch() {
        return [this](size_t count, const uint64_t* offsets, const size_t* lengths,
                      void* const* buffers) {
            calls.emplace_back();
            for (size_t i = 0; i < count; ++i) {
                EXPECT_LE(offsets[i] + lengths[i], size);
                calls.back().push_back({offsets[i], lengths[i]});
                for (size_t j = 0; j < lengths[i]; ++j)
                    static_cast<uint8_t*>(buffers[i])[j] = byte_at(offsets[i] + j);
            }
            return !fail;
        };
    }
    static uint8_t byte_at(uint64_t at) { return static_cast<uint8_t>(at * 7 % 251); }
    uint64_t size;
    bool fail = false;
    std::vector<std::vector<Range>> calls;
};

void expect_source_bytes(const std::vector<uint8_t>& data, uint64_t offset) {
    for (size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(data[i], RecordingSource::byte_at(offset + i)) << "at " << offset + i;
}

TEST(BlockCache, FetchesTheMissingBlocksOnceAsRunsInOneCall) {
    RecordingSource source(10 * kBlock + 100);
    BlockCache cache(source.size, source.fetch());
    // A read across blocks 1 and 2, then ranges over blocks 2 (cached), 3-4 and 7.
    std::vector<uint8_t> a(kBlock);
    uint64_t offset = kBlock + 10;
    size_t length = a.size();
    void* buffer = a.data();
    ASSERT_TRUE(cache.read(1, &offset, &length, &buffer));
    expect_source_bytes(a, offset);
    ASSERT_EQ(source.calls.size(), 1u);
    EXPECT_EQ(source.calls[0], (std::vector<Range>{{kBlock, 2 * kBlock}}));

    std::vector<uint8_t> b(100), c(kBlock + 5), d(3);
    const uint64_t offsets[] = {2 * kBlock + 50, 4 * kBlock - 2, 7 * kBlock + 1};
    const size_t lengths[] = {b.size(), c.size(), d.size()};
    void* const buffers[] = {b.data(), c.data(), d.data()};
    ASSERT_TRUE(cache.read(3, offsets, lengths, buffers));
    expect_source_bytes(b, offsets[0]);
    expect_source_bytes(c, offsets[1]);
    expect_source_bytes(d, offsets[2]);
    ASSERT_EQ(source.calls.size(), 2u);
    EXPECT_EQ(source.calls[1],
              (std::vector<Range>{{3 * kBlock, 3 * kBlock}, {7 * kBlock, kBlock}}));

    // Everything read before comes from the cache.
    ASSERT_TRUE(cache.read(3, offsets, lengths, buffers));
    EXPECT_EQ(source.calls.size(), 2u);
}

TEST(BlockCache, ReadsAreCutAtTheEndAndFailuresReported) {
    RecordingSource source(kBlock + 100);
    BlockCache cache(source.size, source.fetch());
    std::vector<uint8_t> data(500, 0xEE);
    const uint64_t offsets[] = {kBlock + 50, kBlock + 100, kBlock * 5};
    const size_t lengths[] = {data.size(), 10, 10};
    void* const buffers[] = {data.data(), data.data(), data.data()};
    size_t got[3] = {9, 9, 9};
    ASSERT_TRUE(cache.read(3, offsets, lengths, buffers, got));
    EXPECT_EQ(got[0], 50u);
    EXPECT_EQ(got[1], 0u);
    EXPECT_EQ(got[2], 0u);
    EXPECT_EQ(source.calls.at(0), (std::vector<Range>{{kBlock, 100}}));  // the short last block
    expect_source_bytes(std::vector<uint8_t>(data.begin(), data.begin() + 50), offsets[0]);
    EXPECT_EQ(data[50], 0xEE);

    RecordingSource failing(4 * kBlock);
    failing.fail = true;
    BlockCache failing_cache(failing.size, failing.fetch());
    uint64_t offset = 0;
    size_t length = 10;
    void* buffer = data.data();
    EXPECT_FALSE(failing_cache.read(1, &offset, &length, &buffer));
    failing.fail = false;  // nothing was kept from the failed fetch
    EXPECT_TRUE(failing_cache.read(1, &offset, &length, &buffer));
    EXPECT_EQ(failing.calls.size(), 2u);
}

TEST(BlockCache, HoldsAtMostItsLimitOldestBlocksGoingFirst) {
    const uint64_t blocks = BlockCache::kMaxBlocks + 10;
    RecordingSource source(blocks * kBlock);
    BlockCache cache(source.size, source.fetch());
    std::vector<uint8_t> byte(1);
    void* buffer = byte.data();
    size_t length = 1;
    for (uint64_t b = 0; b < blocks; ++b) {
        const uint64_t offset = b * kBlock;
        ASSERT_TRUE(cache.read(1, &offset, &length, &buffer));
    }
    ASSERT_EQ(source.calls.size(), blocks);
    uint64_t offset = (blocks - 1) * kBlock;  // recent: still cached
    ASSERT_TRUE(cache.read(1, &offset, &length, &buffer));
    EXPECT_EQ(source.calls.size(), blocks);
    offset = 0;  // the oldest: fetched again
    ASSERT_TRUE(cache.read(1, &offset, &length, &buffer));
    EXPECT_EQ(source.calls.size(), blocks + 1);
}

}  // namespace
