#include "decode/decode_driver.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "decode/block_decoder.h"
#include "decode/decoder_override.h"
#include "decode/dequantise.h"
#include "decode/entropy_decoder.h"
#include "decode/file_window.h"
#include "decode/leaf_decode.h"
#include "decode/tile_tables.h"
#include "format/image_header.h"
#include "format/pool.h"

namespace {

// How often the tiles of a directory may cover the needed area of a leaf, plus a slack.
constexpr int64_t kMaxCoverage = 8;
constexpr int64_t kCoverageSlack = 65536;
// Tile-against-tile overlap checks one leaf may make; beyond them, a tile that meets what the
// leaf's earlier tiles wrote is taken as overlapping (its blocks then clear their window).
constexpr int64_t kMaxOverlapChecks = int64_t{1} << 20;

// Whether a tile of a leaf may find values that the leaf's earlier tiles wrote where its blocks
// go. Exact while the leaf's checks last; then any tile that meets the bounds of what was
// written is taken as overlapping, so that many tiles cost no more than a few each.
class OverlapCheck {
  public:
    bool may_overlap(const TileEntry* tiles, int32_t t, const RegionRect& met) {
        if (!written_ || !rects_meet(bounds_, met)) return false;
        const RegionRect rect = tile_rect(tiles[t]);
        for (int32_t u = 0; u < t; ++u) {
            if (--checks_left_ < 0) return true;
            if (rects_meet(tile_rect(tiles[u]), rect)) return true;
        }
        return false;
    }
    // The tile's part of the needed rectangle may now hold values.
    void wrote(const RegionRect& met) {
        if (met.x1 < met.x0 || met.y1 < met.y0) return;
        if (!written_) {
            bounds_ = met;
            written_ = true;
            return;
        }
        bounds_ = RegionRect{std::min(bounds_.x0, met.x0), std::max(bounds_.x1, met.x1),
                             std::min(bounds_.y0, met.y0), std::max(bounds_.y1, met.y1)};
    }

  private:
    bool written_ = false;
    RegionRect bounds_{};
    int64_t checks_left_ = kMaxOverlapChecks;
};

// One distinct tile directory of a region decode.
struct CachedDirectory {
    int32_t offset;
    bool loaded;
    TileEntry* tiles;
    int32_t tile_count;
    DitherOrigin dither;
};

}  // namespace

// What the leaves of the open region decode share (see open_region_decode).
struct RegionContext {
    bool open = false;
    int32_t planes = 0;
    int64_t file_size = 0;
    LeafNeed* leaves = nullptr;
    int32_t* directory_of_leaf = nullptr;
    int32_t leaf_count = 0;
    CachedDirectory* directories = nullptr;
    int32_t directory_count = 0;
    WorkBudget work{0, 0};
    // Block bytes are read through this window.
    FileWindow* file = nullptr;
};

namespace {

void release_region_context(RegionContext* context) {
    for (int32_t d = 0; d < context->directory_count; ++d) {
        if (context->directories[d].loaded) release_tile_table(context->directories[d].tiles);
    }
    if (context->directories != nullptr) pool_free(context->directories);
    if (context->directory_of_leaf != nullptr) pool_free(context->directory_of_leaf);
    if (context->leaves != nullptr) pool_free(context->leaves);
    if (context->file != nullptr) {
        context->file->~FileWindow();
        pool_free(context->file);
    }
    *context = RegionContext{};
}

// The region decode open on the stream's context, or none.
RegionContext* open_region(ByteStream* stream) {
    RegionContext* region = stream->context()->region;
    return region != nullptr && region->open ? region : nullptr;
}

// The directory of the open region decode that serves this leaf, or none when the leaf is not
// one the decode was opened with.
CachedDirectory* directory_for_leaf(RegionContext* context, int32_t subband,
                                    const RegionRect& needed) {
    for (int32_t i = 0; i < context->leaf_count; ++i) {
        const LeafNeed& leaf = context->leaves[i];
        if (leaf.subband == subband && leaf.needed.x0 == needed.x0 && leaf.needed.x1 == needed.x1 &&
            leaf.needed.y0 == needed.y0 && leaf.needed.y1 == needed.y1) {
            return &context->directories[context->directory_of_leaf[i]];
        }
    }
    return nullptr;
}

// Reads a shared directory the first time a leaf needs it, keeping the records that meet the
// needed rectangle of any leaf that names it.
int load_directory(ByteStream* stream, RegionContext* context, CachedDirectory* directory) {
    if (directory->loaded) return 0;
    const auto index = static_cast<int32_t>(directory - context->directories);
    auto* wanted = static_cast<RegionRect*>(
        pool_alloc(context->leaf_count * static_cast<int32_t>(sizeof(RegionRect))));
    if (wanted == nullptr) return 1;
    int32_t wanted_count = 0;
    for (int32_t i = 0; i < context->leaf_count; ++i) {
        if (context->directory_of_leaf[i] == index) {
            wanted[wanted_count++] = context->leaves[i].needed;
        }
    }
    const int result =
        read_tile_directory_at(stream, directory->offset, context->planes, wanted, wanted_count,
                               &directory->tiles, &directory->tile_count, &directory->dither);
    pool_free(wanted);
    if (result != 0) return 1;
    directory->loaded = true;
    return 0;
}

}  // namespace

int64_t leaf_work_budget(int64_t file_size, int64_t needed_area) {
    return kWorkPerFileByte * file_size + kWorkPerNeededSample * needed_area + kWorkSlack;
}

int open_region_decode(ByteStream* stream, int32_t planes, const LeafNeed* leaves, int32_t leaf_count) {
    close_region_decode(stream, false);
    RegionContext context;
    const int64_t size = stream->size();
    if (planes < 1 || leaf_count < 0) return 1;
    context.planes = planes;
    context.file_size = size;
    if (leaf_count > 0) {
        context.leaves =
            static_cast<LeafNeed*>(pool_alloc(leaf_count * static_cast<int32_t>(sizeof(LeafNeed))));
        context.directory_of_leaf =
            static_cast<int32_t*>(pool_alloc(leaf_count * static_cast<int32_t>(sizeof(int32_t))));
        context.directories = static_cast<CachedDirectory*>(
            pool_calloc(leaf_count, static_cast<int32_t>(sizeof(CachedDirectory))));
        if (context.leaves == nullptr || context.directory_of_leaf == nullptr ||
            context.directories == nullptr) {
            release_region_context(&context);
            return 1;
        }
        context.leaf_count = leaf_count;
        for (int32_t i = 0; i < leaf_count; ++i) {
            context.leaves[i] = leaves[i];
            int32_t offset = 0;
            if (read_directory_offset(stream, leaves[i].subband, &offset) != 0) {
                release_region_context(&context);
                return 1;
            }
            int32_t d = 0;
            while (d < context.directory_count && context.directories[d].offset != offset) ++d;
            if (d == context.directory_count) {
                context.directories[d] = CachedDirectory{offset, false, nullptr, 0, {}};
                ++context.directory_count;
            }
            context.directory_of_leaf[i] = d;
        }
    }
    void* place = pool_alloc(static_cast<int32_t>(sizeof(FileWindow)));
    if (place == nullptr) {
        release_region_context(&context);
        return 1;
    }
    context.file = new (place) FileWindow(stream->source(), stream->context());
    context.open = true;
    // The allowance of the whole decode, granted once: so much per byte of the file, and for
    // each distinct leaf (whatever the number of planes) so much per needed sample and a slack.
    const double factor = stream->context()->work_factor;
    const double per_file = factor * static_cast<double>(context.file_size);
    int64_t allowed = per_file >= 9.0e18 ? INT64_MAX / 2 : static_cast<int64_t>(per_file);
    for (int32_t i = 0; i < leaf_count; ++i) {
        const RegionRect& n = leaves[i].needed;
        const int64_t area = (int64_t{n.x1} - n.x0 + 1) * (int64_t{n.y1} - n.y0 + 1);
        allowed += kWorkPerNeededSample * std::max<int64_t>(area, 0) + kWorkSlack;
        allowed = std::min(allowed, INT64_MAX / 2);
    }
    context.work = WorkBudget{0, allowed, stream->context()};
    void* record = pool_alloc(static_cast<int32_t>(sizeof(RegionContext)));
    if (record == nullptr) {
        release_region_context(&context);
        return 1;
    }
    stream->context()->region = new (record) RegionContext(context);
    return 0;
}

int64_t region_work_spent(ByteStream* stream) {
    const RegionContext* region = stream->context()->region;
    return region != nullptr ? region->work.spent : 0;
}

void close_region_decode(ByteStream* stream, bool release) {
    RegionContext* region = stream->context()->region;
    stream->context()->region = nullptr;
    if (region == nullptr) return;
    if (release) {
        if (region->open) release_region_context(region);
        pool_free(region);
    }
}

double scale_step_divisor() { return std::bit_cast<double>(uint64_t{0x3FF83698F805389E}); }

float effective_step(float step, float gain, int32_t scale) {
    const double c_s = std::pow(scale_step_divisor(), static_cast<double>(scale));
    return static_cast<float>(((1.0 / c_s) / static_cast<double>(gain)) *
                              static_cast<double>(step));
}

bool rects_meet(const RegionRect& a, const RegionRect& b) {
    return !(a.y1 < b.y0 || b.y1 < a.y0 || a.x1 < b.x0 || b.x1 < a.x0);
}

RegionRect rect_intersection(const RegionRect& a, const RegionRect& b) {
    return RegionRect{a.x0 > b.x0 ? a.x0 : b.x0, a.x1 < b.x1 ? a.x1 : b.x1,
                      a.y0 > b.y0 ? a.y0 : b.y0, a.y1 < b.y1 ? a.y1 : b.y1};
}

namespace {

// The tile stream the fast path used last in a leaf: tiles that name the same stream read its
// start and make its decoding tables once.
struct HeldStream {
    bool held = false;
    StreamStart start{};
    float delta = 0.0f;
    BlockDecoderTables* tables = nullptr;  // made at the first block decoded
    DequantiseTable dequantise{};

    void release() {
        if (tables != nullptr) pool_free(tables);
        if (held) release_stream_header(&start.table, nullptr);
        held = false;
        tables = nullptr;
    }
};

// Decodes, dequantises (and dithers) the blocks of a tile that meet the needed rectangle
// straight into the leaf; overlapped when earlier tiles may have written there.
int decode_tile_fast(const LeafDecode& d, const TileEntry& tile, bool overlapped,
                     HeldStream* held) {
    const int32_t offset = tile.offsets[d.plane];
    if (!held->held || held->start.offset != offset) {
        held->release();
        FileCursor cursor(d.stream, d.file);
        if (read_stream_start(cursor, offset, &held->start) != StreamHeaderResult::read) {
            return 1;
        }
        held->held = true;
        held->delta = effective_step(held->start.step, d.leaf->gain, d.scale);
    }
    BlockEntry* blocks = nullptr;
    int32_t block_count = 0;
    FileCursor cursor(d.stream, d.file);
    if (!tile_size_usable(tile) || read_block_window(cursor, tile, held->start, d.needed,
                                                     d.file_size, &blocks, &block_count) != 0) {
        return 1;
    }
    for (int32_t b = 0; b < block_count; ++b) {
        const BlockEntry& block = blocks[b];
        // x0 + column + width - 1 <= x1, so grouping the block terms first cannot overflow.
        const RegionRect rect{tile.x0 + block.column, tile.x0 + (block.column + block.width - 1),
                              tile.y0 + block.row, tile.y0 + (block.row + block.height - 1)};
        if (!d.work->spend(kWorkPerBlock) || !d.work->charge_block_read(block.offset, d.file_size)) {
            return 1;
        }
        const RegionRect wanted = rect_intersection(d.needed, rect);
        if (block.offset < 0 ||
            (d.file == nullptr && !d.stream->seek(block.offset))) {
            return 1;
        }
        // The decoding tables are made at the first block decoded: a code table is only checked
        // when a block uses it.
        if (held->tables == nullptr) {
            held->tables = static_cast<BlockDecoderTables*>(pool_alloc(sizeof(BlockDecoderTables)));
            if (held->tables == nullptr ||
                build_block_decoder_tables(held->start.table, held->tables) != 0) {
                return 1;
            }
            make_dequantise_table(held->delta, &held->dequantise);
        }
        // The next block's first bytes are asked for while this one decodes (a source in
        // memory: they are usually far from this block's and not in the cache).
        if (d.file != nullptr && b + 1 < block_count) {
            int64_t available = 0;
            const uint8_t* next = d.file->in_place(blocks[b + 1].offset, &available);
            if (next != nullptr) __builtin_prefetch(next);
        }
        float* destination = d.destination(wanted);
        int64_t symbols = 0;
        const int decoded =
            d.file != nullptr
                ? decode_block_into_at(d.file, block.offset, *held->tables, rect, wanted,
                                       held->dequantise, destination, d.needed_width, overlapped,
                                       &symbols)
                : decode_block_into(d.stream, *held->tables, rect, wanted, held->dequantise,
                                    destination, d.needed_width, overlapped, &symbols);
        if (decoded != 0) {
            DecodeContext* context = d.stream->context();
            context->fail(DecodeStatus::damaged,
                          context->place() + "the block at offset " + std::to_string(block.offset) +
                              " of the tile stream at offset " + std::to_string(offset) +
                              " is damaged (its code does not decode, or it ends early)");
            return 1;
        }
        if (!d.work->spend(symbols)) return 1;
        if (d.plane == 0 && !held->dequantise.zero) {
            subtract_dither_rows(destination, d.needed_width, held->delta, wanted, &d.dither);
        }
    }
    if (blocks != nullptr) pool_free(blocks);
    return 0;
}

}  // namespace

int decode_subband(ByteStream* stream, RegionNode* leaf, int32_t subband, int32_t scale, int32_t plane,
                   int32_t planes) {
    const RegionRect needed{leaf->x0, leaf->x1, leaf->y0, leaf->y1};
    DecodeContext* context = stream->context();
    const DecoderOverride* decoder = context->decoder;
    const bool fast = decoder == nullptr;
    context->subband = subband;
    context->plane = plane;
    RegionContext* region = open_region(stream);
    // The tile directory: the fast path keeps only the records that meet the needed rectangle
    // (shared between the leaves and planes of an open region decode); a decode with a
    // decoder override (the straightforward decoder) reads every record, for every leaf.
    TileEntry* tiles = nullptr;
    int32_t tile_count = 0;
    DitherOrigin dither{};
    CachedDirectory* cached =
        fast && region != nullptr ? directory_for_leaf(region, subband, needed) : nullptr;
    if (cached != nullptr) {
        if (load_directory(stream, region, cached) != 0) return 1;
        tiles = cached->tiles;
        tile_count = cached->tile_count;
        dither = cached->dither;
    } else if (fast) {
        int32_t offset = 0;
        if (read_directory_offset(stream, subband, &offset) != 0 ||
            read_tile_directory_at(stream, offset, planes, &needed, 1, &tiles, &tile_count,
                                   &dither) != 0) {
            return 1;
        }
    } else if (read_tile_directory(stream, subband, planes, &tiles, &tile_count, &dither) != 0) {
        return 1;
    }
    const int64_t needed_width = int64_t{needed.x1} - needed.x0 + 1;
    const int64_t needed_height = int64_t{needed.y1} - needed.y0 + 1;
    if (needed_width <= 0 || needed_height <= 0) return 1;
    const int64_t needed_area = needed_width * needed_height;
    if (needed_area * int64_t{sizeof(float)} > INT32_MAX) {
        context->fail(DecodeStatus::limit, context->place() + "the window needs " +
                                               std::to_string(needed_area) +
                                               " coefficients at once, more than a piece may hold");
        return 1;
    }
    // A leaf that no tile gives data for in this plane holds nothing but +0.0: the fast path
    // leaves it without an array, and the synthesis reads it as rows of zeros. The low-low
    // band (which may be the region's root, stored as it is) always has one.
    bool has_data = !fast || subband == 0;
    for (int32_t t = 0; t < tile_count && !has_data; ++t) {
        has_data = tiles[t].offsets[plane] != 0 && rects_meet(tile_rect(tiles[t]), needed);
    }
    if (has_data) {
        leaf->coefficients = static_cast<float*>(
            pool_calloc(static_cast<int32_t>(needed_area), static_cast<int32_t>(sizeof(float))));
        if (leaf->coefficients == nullptr) return 1;
    }
    // The work budget: the region decode's (granted for its leaves when it was opened; a leaf
    // it was not opened with adds its share now), or the leaf's own.
    int64_t file_size = 0;
    WorkBudget own{0, 0, context};
    WorkBudget* work = &own;
    if (region != nullptr) {
        file_size = region->file_size;
        work = &region->work;
        if (directory_for_leaf(region, subband, needed) == nullptr) {
            work->allowed += kWorkPerNeededSample * needed_area + kWorkSlack;
        }
    } else {
        file_size = stream->size();
        own.allowed = leaf_work_budget(file_size, needed_area);
    }
    FileWindow* window = region != nullptr ? region->file : nullptr;
    const LeafDecode d{stream, leaf,   needed,    needed_width, scale,
                       plane,  dither, file_size, work,         window};

    int64_t covered = 0;
    OverlapCheck overlaps;
    HeldStream held;
    for (int32_t t = 0; t < tile_count; ++t) {
        const TileEntry& tile = tiles[t];
        const RegionRect rect_of_tile = tile_rect(tile);
        if (!rects_meet(rect_of_tile, needed)) continue;
        // Tiles may overlap (the later one wins), but a directory that stacks the same area
        // many times would make the work grow with its records instead of with the window:
        // refuse one whose tiles cover the needed area more than a few times over.
        const RegionRect met = rect_intersection(rect_of_tile, needed);
        const int64_t met_width = int64_t{met.x1} - met.x0 + 1;
        const int64_t met_height = int64_t{met.y1} - met.y0 + 1;
        if (met_width > 0 && met_height > 0) covered += met_width * met_height;
        if (covered > kMaxCoverage * needed_area + kCoverageSlack) {
            context->fail(DecodeStatus::damaged,
                          context->place() + "the tiles of the directory cover the needed area " +
                              "more than " + std::to_string(kMaxCoverage) + " times over");
            return 1;
        }
        if (!work->spend(kWorkPerTile)) return 1;
        if (tile.offsets[plane] == 0) continue;  // no stream: the tile's area keeps 0.0
        if (!work->spend(kWorkPerStream)) return 1;
        if (!fast) {
            if (decoder->decode_tile(d, tile) != 0) return 1;
            continue;
        }
        // Blocks of one tile never overlap; only a tile that overlaps an earlier one can find
        // values already written where its blocks go.
        const bool overlapped = overlaps.may_overlap(tiles, t, met);
        overlaps.wrote(met);
        if (decode_tile_fast(d, tile, overlapped, &held) != 0) return 1;
    }
    held.release();
    if (cached == nullptr) release_tile_table(tiles);
    return 0;
}
