// A source that holds ranges of another source's bytes fetched ahead, so that a decode of a
// remote file reads what it needs from a few requests: reads within a held range are served
// from memory, the others go to the source beneath (as far as the next held range).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/byte_source.h"

struct ByteRange {
    int64_t offset;
    int64_t length;
};

class HeldRangesSource final : public ByteSource {
  public:
    // At most this many bytes are held.
    static constexpr int64_t kMaxHeldBytes = int64_t{48} << 20;

    explicit HeldRangesSource(const ByteSource& base);
    HeldRangesSource(const HeldRangesSource&) = delete;
    HeldRangesSource& operator=(const HeldRangesSource&) = delete;

    // Fetches the ranges (cut to the source; bytes held already are left out; ranges less than
    // gap bytes apart are fetched as one) with one read_ranges call of the source beneath.
    // While there are more than most_ranges of them (0: no limit), the narrowest gaps are
    // fetched too, joining their neighbours: any up to widest_gap bytes, and wider ones while
    // these come to no more than the bytes asked for. Gaps are only joined over bytes
    // not held, so that no byte is fetched twice. False when the read fails, or when the bytes
    // would pass kMaxHeldBytes or the ranges kMaxRanges (nothing is fetched then). No ranges
    // left to fetch is success.
    bool fetch(std::vector<ByteRange> ranges, int64_t gap, std::size_t most_ranges = 0,
               int64_t widest_gap = 0);

    // The read_ranges calls made so far, and the ranges they asked for.
    int32_t fetch_calls() const { return fetch_calls_; }
    int64_t ranges_fetched() const { return ranges_fetched_; }
    int64_t held_total() const { return held_total_; }

    // A view that reads the held bytes only: elsewhere it reads as the end of the source.
    const ByteSource& held_only() const { return view_; }

    // How many bytes from offset on are held.
    int64_t held_bytes(int64_t offset) const;
    bool reads_short() const override { return true; }

    static constexpr std::size_t kMaxRanges = 1 << 14;
    // Bytes at the start (the header) that reads always take from the source beneath.
    static constexpr int64_t kFreshBytes = 23;

  protected:
    int64_t read_within(int64_t offset, void* out, int64_t count) const override;

  private:
    void join_widest(std::vector<ByteRange>* joined, std::size_t most_ranges,
                     int64_t widest_gap) const;

    struct Span {
        int64_t offset;
        std::vector<uint8_t> bytes;
        int64_t end() const { return offset + static_cast<int64_t>(bytes.size()); }
    };
    // The span that holds offset, or null; *next gets the start of the first span after offset
    // (the source's size when none).
    const Span* find(int64_t offset, int64_t* next) const;
    // Copies up to count held bytes at offset: how many (0 when offset is not held).
    int64_t copy_held(int64_t offset, void* out, int64_t count) const;

    class HeldOnly final : public ByteSource {
      public:
        explicit HeldOnly(const HeldRangesSource& owner)
            : ByteSource(owner.size(), nullptr), owner_(owner) {}

      protected:
        int64_t read_within(int64_t offset, void* out, int64_t count) const override {
            return owner_.copy_held(offset, out, count);
        }

      private:
        const HeldRangesSource& owner_;
    };

    const ByteSource& base_;
    std::vector<Span> spans_;  // sorted, apart from one another
    int64_t held_total_ = 0;
    int32_t fetch_calls_ = 0;
    int64_t ranges_fetched_ = 0;
    HeldOnly view_;
};
