// The ranges held ahead for a decode: what is fetched (joined, never twice), and reads that
// mix held bytes with bytes read from the source beneath.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "format/held_ranges_source.h"

namespace {

// A source of 100000 numbered bytes that notes every range call and plain read.
class NotingSource final : public ByteSource {
  public:
    NotingSource() : ByteSource(100000, nullptr), bytes_(100000) {
        for (std::size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<uint8_t>(i * 7);
    }
    bool reads_ranges() const override { return true; }
    bool read_ranges(std::size_t count, const int64_t* offsets, const int64_t* lengths,
                     uint8_t* const* buffers) const override {
        calls.emplace_back();
        for (std::size_t i = 0; i < count; ++i) {
            calls.back().push_back({offsets[i], lengths[i]});
            std::copy_n(bytes_.begin() + offsets[i], lengths[i], buffers[i]);
        }
        return true;
    }
    mutable std::vector<std::vector<ByteRange>> calls;
    mutable std::vector<ByteRange> plain_reads;
    std::vector<uint8_t> bytes_;

  protected:
    int64_t read_within(int64_t offset, void* out, int64_t count) const override {
        plain_reads.push_back({offset, count});
        std::copy_n(bytes_.begin() + offset, count, static_cast<uint8_t*>(out));
        return count;
    }
};

std::vector<std::pair<int64_t, int64_t>> pairs(const std::vector<ByteRange>& ranges) {
    std::vector<std::pair<int64_t, int64_t>> out;
    for (const ByteRange& r : ranges) out.push_back({r.offset, r.length});
    return out;
}

TEST(HeldRanges, RangesAreJoinedOverSmallGapsAndNeverFetchedTwice) {
    NotingSource source;
    HeldRangesSource held(source);
    ASSERT_TRUE(held.fetch({{1000, 100}, {1150, 50}, {5000, 10}, {99990, 50}}, 64));
    // 1000..1099 and 1150..1199 lie 50 apart: one range; the last is cut to the source.
    using P = std::vector<std::pair<int64_t, int64_t>>;
    EXPECT_EQ(pairs(source.calls.at(0)), (P{{1000, 200}, {5000, 10}, {99990, 10}}));
    // Held bytes are left out, and a gap over held bytes is not filled even when narrow.
    ASSERT_TRUE(held.fetch({{900, 400}, {4990, 30}}, 4096));
    EXPECT_EQ(pairs(source.calls.at(1)), (P{{900, 100}, {1200, 3800}, {5010, 10}}));
    // Nothing left to fetch: no call.
    ASSERT_TRUE(held.fetch({{1000, 100}}, 64));
    EXPECT_EQ(source.calls.size(), 2u);
    // More ranges than allowed: the narrowest gaps within the widest are filled.
    ASSERT_TRUE(held.fetch({{20000, 10}, {20100, 10}, {30000, 10}, {30050, 10}, {60000, 10}}, 0,
                           3, 1000));
    EXPECT_EQ(pairs(source.calls.at(2)), (P{{20000, 110}, {30000, 60}, {60000, 10}}));
    ASSERT_TRUE(held.fetch({{70000, 10}, {80000, 10}, {90000, 10}}, 0, 1, 1000));
    EXPECT_EQ(source.calls.at(3).size(), 3u);  // gaps wider than the widest stay
}

TEST(HeldRanges, ReadsTakeHeldBytesAndReadTheRestBeneath) {
    NotingSource source;
    HeldRangesSource held(source);
    ASSERT_TRUE(held.fetch({{1000, 100}, {2000, 100}}, 0));
    EXPECT_EQ(held.held_bytes(1050), 50);
    EXPECT_EQ(held.held_bytes(1100), 0);
    std::vector<uint8_t> out(3000);
    // A read over held and not held bytes stops where they meet; read on, it comes back whole
    // and right, reading beneath only what is not held.
    int64_t done = 0;
    while (done < 1300) {
        const int64_t got = held.read_at(900 + done, out.data() + done, 1300 - done);
        ASSERT_GT(got, 0);
        done += got;
    }
    for (int64_t i = 0; i < 1300; ++i) ASSERT_EQ(out[i], source.bytes_[900 + i]) << i;
    for (const ByteRange& r : source.plain_reads) {
        for (const int64_t start : {1000, 2000}) {
            EXPECT_TRUE(r.offset + r.length <= start || r.offset >= start + 100)
                << r.offset << "+" << r.length;
        }
    }
    // The view of the held bytes only ends where they end.
    EXPECT_EQ(held.held_only().read_at(2050, out.data(), 500), 50);
    EXPECT_EQ(held.held_only().read_at(3000, out.data(), 10), 0);
}

}  // namespace
