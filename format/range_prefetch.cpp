#include "format/range_prefetch.h"

#include <algorithm>
#include <map>
#include <new>
#include <vector>

#include "decode/decode_driver.h"
#include "decode/tile_tables.h"
#include "format/byte_stream.h"
#include "format/region_decode.h"
#include "format/region_request.h"

namespace {

// A directory whose end is not known is fetched this far first, and the rest once its record
// count is known.
constexpr int64_t kDirectoryGuess = 4096;
// A tile stream's start: markers, 16 counts, at most 256 symbols, step and block size.
constexpr int64_t kStreamStartMost = 30 + 256;
constexpr int64_t kStreamStartLeast = 30;
// A stream whose next structure lies at most this far from its start is fetched whole.
constexpr int64_t kStreamWhole = 2048;
// A block whose end is not known (no structure known to follow it closely) is fetched this
// far; the decode reads on by itself where a block is longer.
constexpr int64_t kBlockGuess = 8192;
// The block decoder may read a few bytes beyond a block's end before it sees that it is done.
constexpr int64_t kBlockReadBeyond = 16;
// Tile and leaf pairs, and offset table rows, beyond which the steps stop.
constexpr std::size_t kMaxNeeds = 1 << 16;

// Where the needed rectangle of one leaf meets one tile stream.
struct Need {
    RegionRect tile;
    RegionRect needed;
};

// A tile stream the decode reads, with the tiles and rectangles it is read for.
struct StreamNeeds {
    StreamStart start{};
    bool read = false;
    std::vector<Need> needs;
};

// The block rows and columns a tile's part of a needed rectangle covers (as the decode driver
// reads them), and where the stream's offset table starts.
struct OffsetRows {
    int64_t table_at = 0;
    int64_t columns = 0;
    int64_t count = 0;
    int64_t first_row = 0, last_row = -1, first_column = 0, last_column = -1;
    // One block more on every side: the offsets of the blocks around the needed ones tell where
    // more of the needed ones end (in a file whose blocks lie by place, the blocks of
    // neighbouring places follow one another).
    int64_t ring_first_row = 0, ring_last_row = -1, ring_first_column = 0, ring_last_column = -1;
    bool needed(int64_t row, int64_t column) const;
};

bool offset_rows(const StreamStart& start, const Need& need, OffsetRows* rows) {
    const RegionRect& tile = need.tile;
    const TileEntry entry{nullptr, tile.x0, tile.x1, tile.y0, tile.y1};
    if (!tile_size_usable(entry)) return false;
    const int64_t width = int64_t{tile.x1} - tile.x0 + 1;
    const int64_t height = int64_t{tile.y1} - tile.y0 + 1;
    rows->columns = (width + start.block_width - 1) / start.block_width;
    rows->count = rows->columns * ((height + start.block_height - 1) / start.block_height);
    rows->table_at = int64_t{start.offset} + kStreamStartLeast + start.symbol_count;
    const int64_t left = std::max(need.needed.x0, tile.x0) - int64_t{tile.x0};
    const int64_t right = std::min(need.needed.x1, tile.x1) - int64_t{tile.x0};
    const int64_t top = std::max(need.needed.y0, tile.y0) - int64_t{tile.y0};
    const int64_t bottom = std::min(need.needed.y1, tile.y1) - int64_t{tile.y0};
    if (rows->count == 0 || left > right || top > bottom) return false;
    rows->first_column = left / start.block_width;
    rows->last_column = right / start.block_width;
    rows->first_row = top / start.block_height;
    rows->last_row = bottom / start.block_height;
    const int64_t row_count = rows->count / rows->columns;
    rows->ring_first_row = std::max<int64_t>(0, rows->first_row - 1);
    rows->ring_last_row = std::min(row_count - 1, rows->last_row + 1);
    rows->ring_first_column = std::max<int64_t>(0, rows->first_column - 1);
    rows->ring_last_column = std::min(rows->columns - 1, rows->last_column + 1);
    return true;
}

bool OffsetRows::needed(int64_t row, int64_t column) const {
    return row >= first_row && row <= last_row && column >= first_column &&
           column <= last_column;
}

// The offset table entries of block row i (of the ring) that are read, and the entry after
// them (where there is one): in a stream whose blocks follow one another, the next block's
// offset is where a block ends.
void row_entries(const OffsetRows& rows, int64_t i, int64_t* first, int64_t* count) {
    *first = i * rows.columns + rows.ring_first_column;
    const int64_t last = i * rows.columns + rows.ring_last_column;
    *count = last - *first + 1 + (last + 1 < rows.count ? 1 : 0);
}

// Calls visit(rows, row, first, count) for every offset row of a stream's needs, with the
// first entry and the number of entries of the row to read; stops when visit returns false
// and then returns false.
template <typename Visit>
bool each_offset_row(const StreamNeeds& stream, Visit visit) {
    for (const Need& need : stream.needs) {
        OffsetRows rows;
        if (!offset_rows(stream.start, need, &rows)) continue;
        for (int64_t i = rows.ring_first_row; i <= rows.ring_last_row; ++i) {
            int64_t first = 0;
            int64_t count = 0;
            row_entries(rows, i, &first, &count);
            if (!visit(rows, i, first, count)) return false;
        }
    }
    return true;
}

class Planner {
  public:
    Planner(HeldRangesSource& held, int64_t gap)
        : held_(held), stream_(held.held_only(), &context_), gap_(gap) {}

    void run(const ImageHeader& header, int32_t scale, int32_t x0, int32_t y0, int32_t x1,
             int32_t y1) {
        const int64_t subbands = 3 * int64_t{header.levels} + 1;
        const int64_t table_end = kHeaderSize + 4 * subbands;
        if (!held_.fetch({{0, table_end}}, gap_)) return;
        if (!collect_leaves(header, scale, x0, y0, x1, y1)) return;
        std::vector<int32_t> pointers(static_cast<std::size_t>(subbands));
        if (!stream_.seek(kHeaderSize)) return;
        for (int32_t& pointer : pointers) {
            if (read_be32(&stream_, &pointer) != 0) return;
            known_.push_back(pointer);
        }
        known_.push_back(table_end);
        known_.push_back(held_.size());
        sort_known();
        std::vector<int32_t> directories;
        for (int32_t i = 0; i < leaf_count_; ++i) {
            const int32_t subband = leaves_[i].subband;
            if (subband < 0 || subband >= subbands) return;
            directory_of_leaf_[i] = pointers[static_cast<std::size_t>(subband)];
            directories.push_back(directory_of_leaf_[i]);
        }
        std::sort(directories.begin(), directories.end());
        directories.erase(std::unique(directories.begin(), directories.end()),
                          directories.end());
        if (!fetch_directories(header.planes, directories)) return;
        if (!read_directories(header.planes, directories)) return;
        const int64_t before_streams = held_.ranges_fetched();
        if (!fetch_stream_starts()) return;
        if (!fetch_offset_rows()) return;
        const auto stream_ranges =
            static_cast<std::size_t>(held_.ranges_fetched() - before_streams);
        const std::size_t left =
            kPrefetchRangeBudget - std::min(stream_ranges, kPrefetchRangeBudget);
        fetch_blocks(std::clamp(left, kPrefetchLeastBlockRanges, most_ranges_));
    }


  private:
    bool collect_leaves(const ImageHeader& header, int32_t scale, int32_t x0, int32_t y0,
                        int32_t x1, int32_t y1) {
        RegionRequest* request = nullptr;
        const int64_t stride =
            std::min<int64_t>(INT32_MAX, (int64_t{x1} - x0 + 1) * header.planes);
        const int made = make_region_request(held_.held_only(), &request, scale, x0, x1, y0, y1,
                                             static_cast<int32_t>(stride));
        if (made != 0) {
            if (request != nullptr) free_region_request(request);
            return false;
        }
        const int collected = collect_region_leaves(request, leaves_, &leaf_count_);
        free_region_request(request);
        return collected == 0;
    }

    void sort_known() {
        std::sort(known_.begin(), known_.end());
        known_.erase(std::unique(known_.begin(), known_.end()), known_.end());
    }
    // The first known structure after offset (the end of the source when none).
    int64_t next_known(int64_t offset) const {
        const auto after = std::upper_bound(known_.begin(), known_.end(), offset);
        return after != known_.end() ? *after : held_.size();
    }

    bool fetch_directories(int32_t planes, const std::vector<int32_t>& directories) {
        std::vector<ByteRange> ranges;
        for (int32_t d : directories) {
            if (d <= 0) continue;
            ranges.push_back({d, std::min(next_known(d), d + kDirectoryGuess) - d});
        }
        if (!held_.fetch(ranges, gap_, most_ranges_, widest_gap_)) return false;
        // The rest of every directory that is longer than what was fetched.
        ranges.clear();
        const int64_t record = 4 * int64_t{planes} + 16;
        for (int32_t d : directories) {
            int32_t count = 0;
            if (d <= 0 || !stream_.seek(int64_t{d} + 4) || read_be32(&stream_, &count) != 0 ||
                count < 0) {
                continue;
            }
            ranges.push_back({d, std::min(held_.size() - d, 8 + count * record)});
        }
        return held_.fetch(ranges, gap_, most_ranges_, widest_gap_);
    }

    bool read_directories(int32_t planes, const std::vector<int32_t>& directories) {
        std::size_t needs = 0;
        for (int32_t d : directories) {
            TileEntry* tiles = nullptr;
            int32_t count = 0;
            DitherOrigin dither{};
            if (read_tile_directory_at(&stream_, d, planes, nullptr, 0, &tiles, &count,
                                       &dither) != 0) {
                continue;  // the decode fails there by itself
            }
            bool too_many = false;
            for (int32_t t = 0; t < count && !too_many; ++t) {
                const TileEntry& tile = tiles[t];
                for (int32_t p = 0; p < planes; ++p) known_.push_back(tile.offsets[p]);
                for (int32_t i = 0; i < leaf_count_; ++i) {
                    if (directory_of_leaf_[i] != d ||
                        !rects_meet(tile_rect(tile), leaves_[i].needed)) {
                        continue;
                    }
                    for (int32_t p = 0; p < planes; ++p) {
                        if (tile.offsets[p] <= 0) continue;
                        streams_[tile.offsets[p]].needs.push_back(
                            {tile_rect(tile), leaves_[i].needed});
                        if (++needs > kMaxNeeds) too_many = true;
                    }
                }
            }
            release_tile_table(tiles);
            if (too_many) return false;
        }
        sort_known();
        return true;
    }

    bool fetch_stream_starts() {
        std::vector<ByteRange> ranges;
        for (const auto& [offset, stream] : streams_) {
            // A stream whose end is near (the next structure follows within a few kilobytes, as
            // where the stream headers lie together) is fetched whole, offset table and all:
            // its rows then need no step of their own.
            const int64_t next = next_known(offset);
            int64_t end = next - offset <= kStreamWhole ? next : int64_t{offset} + kStreamStartMost;
            if (end < int64_t{offset} + kStreamStartLeast) end = int64_t{offset} + kStreamStartMost;
            ranges.push_back({offset, end - offset});
        }
        return held_.fetch(ranges, gap_, most_ranges_, widest_gap_);
    }

    bool fetch_offset_rows() {
        std::vector<ByteRange> ranges;
        for (auto& [offset, stream] : streams_) {
            if (read_stream_start(&stream_, offset, &stream.start) != StreamHeaderResult::read) {
                continue;
            }
            release_stream_header(&stream.start.table, nullptr);
            stream.read = true;
            const bool kept = each_offset_row(
                stream, [&](const OffsetRows& rows, int64_t, int64_t first, int64_t count) {
                    ranges.push_back({rows.table_at + 4 * first, 4 * count});
                    return ranges.size() <= kMaxNeeds;
                });
            if (!kept) return false;
        }
        return held_.fetch(ranges, gap_, most_ranges_, widest_gap_);
    }

    void fetch_blocks(std::size_t most_ranges) {
        std::vector<int64_t> blocks;
        for (const auto& [offset, stream] : streams_) {
            if (!stream.read) continue;
            const bool kept = each_offset_row(
                stream, [&](const OffsetRows& rows, int64_t i, int64_t first, int64_t count) {
                    if (!stream_.seek(rows.table_at + 4 * first)) return false;
                    for (int64_t k = 0; k < count; ++k) {
                        int32_t block = 0;
                        if (read_be32(&stream_, &block) != 0) break;
                        known_.push_back(block);
                        // The entry after a row's needed ones only bounds a block.
                        if (rows.needed(i, rows.ring_first_column + k)) blocks.push_back(block);
                    }
                    return blocks.size() <= kMaxNeeds;
                });
            if (!kept) return;
        }
        sort_known();
        std::vector<ByteRange> ranges;
        for (int64_t block : blocks) {
            if (block <= 0) continue;
            const int64_t end = std::min(next_known(block), block + kBlockGuess);
            ranges.push_back({block, end - block + kBlockReadBeyond});
        }
        held_.fetch(ranges, gap_, most_ranges, widest_gap_);
    }

    HeldRangesSource& held_;
    DecodeContext context_;
    ByteStream stream_;
    int64_t gap_;
    std::size_t most_ranges_ = kPrefetchMostRanges;
    int64_t widest_gap_ = kPrefetchWidestGap;
    LeafNeed leaves_[kMaxRegionLeaves]{};
    int32_t directory_of_leaf_[kMaxRegionLeaves]{};
    int32_t leaf_count_ = 0;
    std::vector<int64_t> known_;
    std::map<int32_t, StreamNeeds> streams_;  // by offset: file order
};

}  // namespace

std::unique_ptr<HeldRangesSource> prefetch_window(const ByteSource& source,
                                                  const ImageHeader& header, int32_t scale,
                                                  int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                                  int64_t join_gap) {
    if (!source.reads_ranges() || source.bytes() != nullptr) return nullptr;
    try {
        auto held = std::make_unique<HeldRangesSource>(source);
        Planner planner(*held, join_gap);
        planner.run(header, scale, x0, y0, x1, y1);
        return held;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
