// The ranges the GDAL driver keeps for a file's next decodes: what is kept, what is missing.
#include "gdal/range_cache.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

using kavel_gdal::RangeCache;
using Parts = std::vector<std::pair<uint64_t, size_t>>;

std::vector<uint8_t> file_bytes(uint64_t offset, size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>((offset + i) * 13);
    return bytes;
}

void keep(RangeCache& cache, uint64_t offset, size_t length) {
    const auto bytes = file_bytes(offset, length);
    cache.keep(offset, bytes.data(), length);
}

TEST(RangeCache, KeptRangesJoinAndMissingPartsAreTheGaps) {
    RangeCache cache;
    keep(cache, 100, 50);
    keep(cache, 300, 100);
    EXPECT_EQ(cache.missing(0, 500), (Parts{{0, 100}, {150, 150}, {400, 100}}));
    EXPECT_EQ(cache.missing(120, 20), Parts{});
    EXPECT_EQ(cache.missing(140, 200), (Parts{{150, 150}}));
    // A range over both and the gap joins them into one: any part reads back as the file's.
    keep(cache, 140, 200);
    EXPECT_EQ(cache.missing(100, 300), Parts{});
    std::vector<uint8_t> out(300);
    ASSERT_TRUE(cache.copy(100, 300, out.data()));
    EXPECT_EQ(out, file_bytes(100, 300));
    EXPECT_FALSE(cache.copy(90, 20, out.data()));
    EXPECT_FALSE(cache.copy(390, 20, out.data()));
}

TEST(RangeCache, BeyondItsSizeItStartsAfresh) {
    RangeCache cache;
    keep(cache, 0, 1000);
    const size_t large = static_cast<size_t>(RangeCache::kMaxBytes) - 500;
    keep(cache, 1u << 30, large);
    std::vector<uint8_t> out(1000);
    EXPECT_FALSE(cache.copy(0, 1000, out.data()));  // dropped to make room
    EXPECT_TRUE(cache.copy((1u << 30) + large - 1000, 1000, out.data()));
    EXPECT_EQ(out, file_bytes((1u << 30) + large - 1000, 1000));
}

}  // namespace
