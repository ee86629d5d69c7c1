#include "decode/decode_driver.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "decode/block_decoder.h"
#include "decode/dequantise.h"
#include "decode/entropy_decoder.h"
#include "decode/reference/reference_decoder.h"
#include "format/image_header.h"
#include "format/pool.h"

namespace {

constexpr int32_t kMaxTileSide = 65535;
// How often the tiles of a directory may cover the needed area of a leaf, plus a slack.
constexpr int64_t kMaxCoverage = 8;
constexpr int64_t kCoverageSlack = 65536;
// The work budget (see open_region_decode): what a region decode may spend per byte of the
// file, and each leaf per needed sample and at least; then what the work costs. A decoded
// symbol costs 1. A tile stream (a seek, its start, its decoding tables) and a block (a seek
// and a read, often a system call each) cost as much as a few hundred and a few dozen symbols.
// A valid file's streams, block offsets and block data are distinct bytes, each decoded once
// per decode: a stream's 30 bytes or more cost 256, a block's 4-byte offset and 2-byte marker
// 24, a data byte at most 8 symbols, so a valid file spends at most about 8.5 per byte.
constexpr int64_t kWorkPerFileByte = 16;
constexpr int64_t kWorkPerNeededSample = 4;
constexpr int64_t kWorkSlack = 65536;
constexpr int64_t kWorkPerTile = 1;
constexpr int64_t kWorkPerStream = 256;
constexpr int64_t kWorkPerBlock = 24;
// Tile-against-tile overlap checks one leaf may make; beyond them, a tile that meets what the
// leaf's earlier tiles wrote is taken as overlapping (its blocks then clear their window).
constexpr int64_t kMaxOverlapChecks = int64_t{1} << 20;
// Bytes of a tile stream before its block offsets, not counting the N symbol values.
constexpr int64_t kStreamHeaderBytes = 30;

// Bytes left in the stream from the current position, or -1 when that cannot be told.
int64_t bytes_remaining(FILE* stream) {
    const long position = std::ftell(stream);
    const long size = stream_size(stream);
    if (position < 0 || size < 0) return -1;
    return int64_t{size} - position;
}

int32_t be32_at(const uint8_t* bytes) {
    return static_cast<int32_t>((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                                (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]});
}

RegionRect tile_rect(const TileEntry& tile) {
    return RegionRect{tile.x0, tile.x1, tile.y0, tile.y1};
}

bool meets_any(const RegionRect& rect, const RegionRect* wanted, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (rects_meet(rect, wanted[i])) return true;
    }
    return false;
}

// Reads the file offset of subband k's tile directory from the pointer table.
int read_directory_offset(FILE* stream, int32_t subband, int32_t* offset) {
    if (subband < 0) return 1;
    if (std::fseek(stream, kHeaderSize + 4L * subband, SEEK_SET) != 0) return 1;
    return read_be32(stream, offset);
}

// Kept directory records, P stream offsets then x0, x1, y0, y1 each, in a pool block that grows
// by doubling while a directory is read.
struct RecordBuffer {
    int32_t* values = nullptr;
    int32_t capacity = 0;  // records
    int32_t count = 0;
    int32_t width = 0;  // values per record

    int grow(int32_t most) {
        const int64_t wanted =
            capacity == 0 ? most : std::min<int64_t>(2 * int64_t{capacity}, most);
        const int64_t bytes = wanted * width * int64_t{sizeof(int32_t)};
        if (bytes > INT32_MAX) return 1;
        auto* larger = static_cast<int32_t*>(pool_alloc(static_cast<int32_t>(bytes)));
        if (larger == nullptr) return 1;
        if (count > 0) {
            std::memcpy(larger, values, static_cast<std::size_t>(count) * width * sizeof(int32_t));
        }
        release();
        values = larger;
        capacity = static_cast<int32_t>(wanted);
        return 0;
    }
    void release() {
        if (values != nullptr) pool_free(values);
        values = nullptr;
    }
};

// The table of the kept records: one pool block, the entries followed by their offsets.
int make_tile_table(const RecordBuffer& records, int32_t planes, TileEntry** tiles) {
    const int64_t count = records.count;
    const int64_t bytes = count * int64_t{sizeof(TileEntry)} + count * planes * 4;
    if (bytes > INT32_MAX) return 1;
    auto* block = static_cast<uint8_t*>(pool_alloc(static_cast<int32_t>(bytes)));
    if (block == nullptr) return 1;
    auto* table = reinterpret_cast<TileEntry*>(block);
    auto* offsets = reinterpret_cast<int32_t*>(block + count * int64_t{sizeof(TileEntry)});
    for (int64_t t = 0; t < count; ++t) {
        const int32_t* record = records.values + t * records.width;
        TileEntry& entry = table[t];
        entry.offsets = offsets + t * planes;
        std::memcpy(entry.offsets, record, static_cast<std::size_t>(planes) * sizeof(int32_t));
        entry.x0 = record[planes];
        entry.x1 = record[planes + 1];
        entry.y0 = record[planes + 2];
        entry.y1 = record[planes + 3];
    }
    *tiles = table;
    return 0;
}

// The start of a tile stream, which all its blocks share: code table, step and block size.
struct StreamStart {
    int32_t offset;
    float step;
    CodeTable table;
    int32_t block_width;
    int32_t block_height;
    int32_t symbol_count;
};

// Reads a stream's markers, code table, step and block size (absent for offset 0), and
// checks the block size. The stream is left at the first block offset.
StreamHeaderResult read_stream_start(FILE* stream, int32_t offset, StreamStart* start) {
    CodeTable* table = &start->table;
    table->counts = nullptr;
    table->symbols = nullptr;
    start->offset = offset;
    if (offset == 0) return StreamHeaderResult::absent;
    if (offset < 0 || std::fseek(stream, offset, SEEK_SET) != 0) return StreamHeaderResult::failed;
    if (std::fgetc(stream) != 0xFF) return StreamHeaderResult::failed;
    if (std::fgetc(stream) != 0xAA) return StreamHeaderResult::failed;
    const auto failed = [table]() {
        release_stream_header(table, nullptr);
        return StreamHeaderResult::failed;
    };
    table->counts = static_cast<uint8_t*>(pool_alloc(16));
    table->symbols = static_cast<uint8_t*>(pool_calloc(256, 1));
    if (table->counts == nullptr || table->symbols == nullptr) return failed();
    if (std::fread(table->counts, 1, 16, stream) != 16) return failed();
    int32_t symbols = 0;
    for (int i = 0; i < 16; ++i) symbols += table->counts[i];
    if (symbols > 256) return failed();
    if (std::fread(table->symbols, 1, static_cast<std::size_t>(symbols), stream) !=
        static_cast<std::size_t>(symbols)) {
        return failed();
    }
    if (read_be32_float(stream, &start->step) != 0 || read_be32(stream, &start->block_width) != 0 ||
        read_be32(stream, &start->block_height) != 0) {
        return failed();
    }
    if (start->block_width <= 0 || start->block_height <= 0) return failed();
    start->symbol_count = symbols;
    return StreamHeaderResult::read;
}

// A tile whose blocks can be laid out: 0 to 65535 columns and rows.
bool tile_size_usable(const TileEntry& tile) {
    const int64_t width = int64_t{tile.x1} - tile.x0 + 1;
    const int64_t height = int64_t{tile.y1} - tile.y0 + 1;
    return width >= 0 && height >= 0 && width <= kMaxTileSide && height <= kMaxTileSide;
}

// The blocks of a tile that meet the needed rectangle, in raster order, with their offsets read
// from the stream's offset table (whose block rows are read only where needed). The whole
// table must fit in the file and its grid must be one that could be held.
int read_block_window(FILE* stream, const TileEntry& tile, const StreamStart& start,
                      const RegionRect& needed, int64_t file_size, BlockEntry** blocks,
                      int32_t* block_count) {
    *blocks = nullptr;
    *block_count = 0;
    const int64_t tile_width = int64_t{tile.x1} - tile.x0 + 1;
    const int64_t tile_height = int64_t{tile.y1} - tile.y0 + 1;
    const int64_t columns = (tile_width + start.block_width - 1) / start.block_width;
    const int64_t rows = (tile_height + start.block_height - 1) / start.block_height;
    const int64_t count = columns * rows;
    const int64_t table_at = int64_t{start.offset} + kStreamHeaderBytes + start.symbol_count;
    if (count * 4 > file_size - table_at) return 1;
    if (count * static_cast<int64_t>(sizeof(BlockEntry)) > INT32_MAX) return 1;
    // The tile's part of the needed rectangle, from the tile's corner.
    const int64_t left = std::max(needed.x0, tile.x0) - int64_t{tile.x0};
    const int64_t right = std::min(needed.x1, tile.x1) - int64_t{tile.x0};
    const int64_t top = std::max(needed.y0, tile.y0) - int64_t{tile.y0};
    const int64_t bottom = std::min(needed.y1, tile.y1) - int64_t{tile.y0};
    if (count == 0 || left > right || top > bottom) return 0;
    const int64_t first_column = left / start.block_width;
    const int64_t last_column = right / start.block_width;
    const int64_t first_row = top / start.block_height;
    const int64_t last_row = bottom / start.block_height;
    const int64_t wanted = (last_column - first_column + 1) * (last_row - first_row + 1);
    auto* list = static_cast<BlockEntry*>(
        pool_alloc(static_cast<int32_t>(wanted * static_cast<int64_t>(sizeof(BlockEntry)))));
    if (list == nullptr) return 1;
    const auto failed = [list]() {
        pool_free(list);
        return 1;
    };
    // The offsets are in raster order: read the wanted columns of each wanted row, seeking
    // only where the rows are not contiguous.
    constexpr int64_t kChunk = 256;
    uint8_t bytes[4 * kChunk];
    int64_t position = -1;
    BlockEntry* entry = list;
    for (int64_t i = first_row; i <= last_row; ++i) {
        const int64_t row_at = table_at + 4 * (i * columns + first_column);
        if (row_at != position && std::fseek(stream, static_cast<long>(row_at), SEEK_SET) != 0) {
            return failed();
        }
        position = row_at;
        const int64_t row = i * start.block_height;
        const int64_t height = std::min<int64_t>(start.block_height, tile_height - row);
        for (int64_t q = first_column; q <= last_column;) {
            const int64_t take = std::min(kChunk, last_column - q + 1);
            if (std::fread(bytes, 4, static_cast<std::size_t>(take), stream) !=
                static_cast<std::size_t>(take)) {
                return failed();
            }
            position += 4 * take;
            for (int64_t k = 0; k < take; ++k, ++q, ++entry) {
                const int64_t column = q * start.block_width;
                entry->offset = be32_at(bytes + 4 * k);
                entry->column = static_cast<uint16_t>(column);
                entry->row = static_cast<uint16_t>(row);
                entry->width = static_cast<uint16_t>(
                    std::min<int64_t>(start.block_width, tile_width - column));
                entry->height = static_cast<uint16_t>(height);
            }
        }
    }
    *blocks = list;
    *block_count = static_cast<int32_t>(wanted);
    return 0;
}

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

struct WorkBudget {
    int64_t spent;
    int64_t allowed;
    // Adds work; false when the budget is exceeded.
    bool spend(int64_t amount) {
        spent += amount;
        return spent <= allowed;
    }
};

// One distinct tile directory of a region decode.
struct CachedDirectory {
    int32_t offset;
    bool loaded;
    TileEntry* tiles;
    int32_t tile_count;
    DitherOrigin dither;
};

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
};
thread_local RegionContext g_region;

void release_region_context(RegionContext* context) {
    for (int32_t d = 0; d < context->directory_count; ++d) {
        if (context->directories[d].loaded) release_tile_table(context->directories[d].tiles);
    }
    if (context->directories != nullptr) pool_free(context->directories);
    if (context->directory_of_leaf != nullptr) pool_free(context->directory_of_leaf);
    if (context->leaves != nullptr) pool_free(context->leaves);
    *context = RegionContext{};
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
int load_directory(FILE* stream, RegionContext* context, CachedDirectory* directory) {
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

int open_region_decode(FILE* stream, int32_t planes, const LeafNeed* leaves, int32_t leaf_count) {
    g_region = RegionContext{};
    RegionContext context;
    const long size = stream_size(stream);
    if (size < 0 || planes < 1 || leaf_count < 0) return 1;
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
    context.open = true;
    context.work = WorkBudget{0, kWorkPerFileByte * context.file_size};
    g_region = context;
    return 0;
}

int64_t region_work_spent() { return g_region.work.spent; }

void close_region_decode(bool release) {
    if (release && g_region.open) release_region_context(&g_region);
    g_region = RegionContext{};
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

int read_tile_directory(FILE* stream, int32_t subband, int32_t planes, TileEntry** tiles,
                        int32_t* tile_count, DitherOrigin* dither) {
    *tiles = nullptr;
    *tile_count = 0;
    int32_t offset = 0;
    if (read_directory_offset(stream, subband, &offset) != 0) return 1;
    return read_tile_directory_at(stream, offset, planes, nullptr, 0, tiles, tile_count, dither);
}

int read_tile_directory_at(FILE* stream, int32_t offset, int32_t planes, const RegionRect* wanted,
                           int32_t wanted_count, TileEntry** tiles, int32_t* tile_count,
                           DitherOrigin* dither) {
    *tiles = nullptr;
    *tile_count = 0;
    if (planes < 1 || planes > kMaxPlanes) return 1;
    if (offset < 0 || std::fseek(stream, offset, SEEK_SET) != 0) return 1;
    if (std::fgetc(stream) != 0xFF) return 1;
    if (std::fgetc(stream) != 0xAC) return 1;
    const int column = std::fgetc(stream);
    const int row = std::fgetc(stream);
    if (column == EOF || row == EOF) return 1;
    dither->column = static_cast<uint8_t>(column);
    dither->row = static_cast<uint8_t>(row);
    int32_t count = 0;
    if (read_be32(stream, &count) != 0) return 1;
    // Refuse a count whose records could not fit in what is left of the file before taking
    // memory for them.
    const int64_t record_size = 4 * int64_t{planes} + 16;
    const int64_t remaining = bytes_remaining(stream);
    if (count < 0 || remaining < 0 || int64_t{count} * record_size > remaining) return 1;
    if (count == 0) return 0;
    uint8_t record[4 * kMaxPlanes + 16];
    RecordBuffer kept;
    kept.width = planes + 4;
    // A filtered read usually keeps few records: start small and double.
    const int32_t first_capacity = wanted == nullptr ? count : std::min(count, 64);
    for (int32_t t = 0; t < count; ++t) {
        if (std::fread(record, 1, static_cast<std::size_t>(record_size), stream) !=
            static_cast<std::size_t>(record_size)) {
            kept.release();
            return 1;
        }
        // The file holds x0, y0, x1, y1; the table keeps x0, x1, y0, y1.
        const uint8_t* corner = record + 4 * planes;
        const RegionRect rect{be32_at(corner), be32_at(corner + 8), be32_at(corner + 4),
                              be32_at(corner + 12)};
        if (wanted != nullptr && !meets_any(rect, wanted, wanted_count)) continue;
        if (kept.count == kept.capacity &&
            kept.grow(kept.capacity == 0 ? first_capacity : count) != 0) {
            kept.release();
            return 1;
        }
        int32_t* out = kept.values + int64_t{kept.count} * kept.width;
        for (int32_t j = 0; j < planes; ++j) out[j] = be32_at(record + 4 * j);
        out[planes] = rect.x0;
        out[planes + 1] = rect.x1;
        out[planes + 2] = rect.y0;
        out[planes + 3] = rect.y1;
        ++kept.count;
    }
    int result = 0;
    if (kept.count > 0) {
        result = make_tile_table(kept, planes, tiles);
        if (result == 0) *tile_count = kept.count;
    }
    kept.release();
    return result;
}

void release_tile_table(TileEntry* tiles) {
    if (tiles != nullptr) pool_free(tiles);
}

void release_stream_header(CodeTable* table, BlockEntry* blocks) {
    if (blocks != nullptr) pool_free(blocks);  // a tile with no blocks has no list
    if (table->symbols != nullptr) pool_free(table->symbols);
    if (table->counts != nullptr) pool_free(table->counts);
    table->symbols = nullptr;
    table->counts = nullptr;
}

int make_block_grid(int32_t tile_width, int32_t tile_height, int32_t block_width,
                    int32_t block_height, BlockEntry** blocks, int32_t* block_count) {
    *blocks = nullptr;
    *block_count = 0;
    if (tile_width < 0 || tile_height < 0 || tile_width > kMaxTileSide ||
        tile_height > kMaxTileSide || block_width <= 0 || block_height <= 0) {
        return 1;
    }
    const int64_t columns = (int64_t{tile_width} + block_width - 1) / block_width;
    const int64_t rows = (int64_t{tile_height} + block_height - 1) / block_height;
    const int64_t count = columns * rows;
    if (count == 0) return 0;
    if (count * static_cast<int64_t>(sizeof(BlockEntry)) > INT32_MAX) return 1;
    auto* list = static_cast<BlockEntry*>(
        pool_alloc(static_cast<int32_t>(count * static_cast<int64_t>(sizeof(BlockEntry)))));
    if (list == nullptr) return 1;
    BlockEntry* entry = list;
    for (int64_t i = 0; i < rows; ++i) {
        for (int64_t q = 0; q < columns; ++q, ++entry) {
            const int64_t column = q * block_width;
            const int64_t row = i * block_height;
            entry->offset = 0;
            entry->column = static_cast<uint16_t>(column);
            entry->row = static_cast<uint16_t>(row);
            entry->width = static_cast<uint16_t>(
                block_width < tile_width - column ? block_width : tile_width - column);
            entry->height = static_cast<uint16_t>(
                block_height < tile_height - row ? block_height : tile_height - row);
        }
    }
    *blocks = list;
    *block_count = static_cast<int32_t>(count);
    return 0;
}

StreamHeaderResult read_tile_stream_header(FILE* stream, const TileEntry* tile, int32_t plane,
                                           float* step, CodeTable* table, BlockEntry** blocks,
                                           int32_t* block_count) {
    *blocks = nullptr;
    *block_count = 0;
    StreamStart start{};
    const StreamHeaderResult result = read_stream_start(stream, tile->offsets[plane], &start);
    *table = start.table;
    if (result != StreamHeaderResult::read) return result;
    *step = start.step;
    const auto failed = [&]() {
        release_stream_header(table, *blocks);
        *blocks = nullptr;
        *block_count = 0;
        return StreamHeaderResult::failed;
    };
    if (!tile_size_usable(*tile)) return failed();
    const int64_t tile_width = int64_t{tile->x1} - tile->x0 + 1;
    const int64_t tile_height = int64_t{tile->y1} - tile->y0 + 1;
    // The block offsets must fit in the file before the grid takes memory for them.
    const int64_t count = ((tile_width + start.block_width - 1) / start.block_width) *
                          ((tile_height + start.block_height - 1) / start.block_height);
    const int64_t remaining = bytes_remaining(stream);
    if (remaining < 0 || count * 4 > remaining) return failed();
    if (make_block_grid(static_cast<int32_t>(tile_width), static_cast<int32_t>(tile_height),
                        start.block_width, start.block_height, blocks, block_count) != 0) {
        return failed();
    }
    for (int32_t b = 0; b < *block_count; ++b) {
        if (read_be32(stream, &(*blocks)[b].offset) != 0) return failed();
    }
    return StreamHeaderResult::read;
}

StreamHeaderResult read_tile_stream_window(FILE* stream, const TileEntry* tile, int32_t plane,
                                           const RegionRect& needed, int64_t file_size, float* step,
                                           CodeTable* table, BlockEntry** blocks,
                                           int32_t* block_count) {
    *blocks = nullptr;
    *block_count = 0;
    StreamStart start{};
    const StreamHeaderResult result = read_stream_start(stream, tile->offsets[plane], &start);
    *table = start.table;
    if (result != StreamHeaderResult::read) return result;
    *step = start.step;
    if (!tile_size_usable(*tile) ||
        read_block_window(stream, *tile, start, needed, file_size, blocks, block_count) != 0) {
        release_stream_header(table, nullptr);
        return StreamHeaderResult::failed;
    }
    return StreamHeaderResult::read;
}

namespace {

// What the tiles of one leaf share while it is decoded.
struct LeafDecode {
    FILE* stream;
    RegionNode* leaf;
    RegionRect needed;
    int64_t needed_width;
    int32_t scale;
    int32_t plane;
    DitherOrigin dither;
    int64_t file_size;
    WorkBudget* work;

    // Where the intersection of the leaf with a block starts in the leaf's array.
    float* destination(const RegionRect& wanted) const {
        return leaf->coefficients + (int64_t{wanted.y0} - needed.y0) * needed_width +
               (wanted.x0 - needed.x0);
    }
};

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
        if (read_stream_start(d.stream, offset, &held->start) != StreamHeaderResult::read) {
            return 1;
        }
        held->held = true;
        held->delta = effective_step(held->start.step, d.leaf->gain, d.scale);
    }
    BlockEntry* blocks = nullptr;
    int32_t block_count = 0;
    if (!tile_size_usable(tile) || read_block_window(d.stream, tile, held->start, d.needed,
                                                     d.file_size, &blocks, &block_count) != 0) {
        return 1;
    }
    for (int32_t b = 0; b < block_count; ++b) {
        const BlockEntry& block = blocks[b];
        // x0 + column + width - 1 <= x1, so grouping the block terms first cannot overflow.
        const RegionRect rect{tile.x0 + block.column, tile.x0 + (block.column + block.width - 1),
                              tile.y0 + block.row, tile.y0 + (block.row + block.height - 1)};
        if (!d.work->spend(kWorkPerBlock)) return 1;
        const RegionRect wanted = rect_intersection(d.needed, rect);
        if (block.offset < 0 || std::fseek(d.stream, block.offset, SEEK_SET) != 0) return 1;
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
        float* destination = d.destination(wanted);
        int64_t symbols = 0;
        if (decode_block_into(d.stream, *held->tables, rect, wanted, held->dequantise, destination,
                              d.needed_width, overlapped, &symbols) != 0 ||
            !d.work->spend(symbols)) {
            return 1;
        }
        if (d.plane == 0 && !held->dequantise.zero) {
            subtract_dither_rows(destination, d.needed_width, held->delta, wanted, &d.dither);
        }
    }
    if (blocks != nullptr) pool_free(blocks);
    return 0;
}

// The same with the whole block grid, a code tree per block and quantised values copied in.
int decode_tile_reference(const LeafDecode& d, const TileEntry& tile) {
    float step = 0.0f;
    CodeTable table{};
    BlockEntry* blocks = nullptr;
    int32_t block_count = 0;
    const StreamHeaderResult header =
        read_tile_stream_header(d.stream, &tile, d.plane, &step, &table, &blocks, &block_count);
    if (header == StreamHeaderResult::absent) return 0;
    if (header == StreamHeaderResult::failed) return 1;
    const float delta = effective_step(step, d.leaf->gain, d.scale);
    for (int32_t b = 0; b < block_count; ++b) {
        const BlockEntry& block = blocks[b];
        const RegionRect rect{tile.x0 + block.column, tile.x0 + (block.column + block.width - 1),
                              tile.y0 + block.row, tile.y0 + (block.row + block.height - 1)};
        if (!rects_meet(rect, d.needed)) continue;
        if (!d.work->spend(kWorkPerBlock)) return 1;
        const RegionRect wanted = rect_intersection(d.needed, rect);
        const int32_t wanted_width = wanted.x1 - wanted.x0 + 1;
        const int32_t wanted_height = wanted.y1 - wanted.y0 + 1;
        const int32_t count = wanted_width * wanted_height;
        if (block.offset < 0 || std::fseek(d.stream, block.offset, SEEK_SET) != 0) return 1;
        auto* values =
            static_cast<int16_t*>(pool_calloc(count, static_cast<int32_t>(sizeof(int16_t))));
        if (values == nullptr) return 1;
        int64_t symbols = 0;
        if (decode_block_reference(d.stream, values, table, rect, wanted, &symbols) != 0 ||
            !d.work->spend(symbols)) {
            return 1;
        }
        auto* samples =
            static_cast<float*>(pool_alloc(count * static_cast<int32_t>(sizeof(float))));
        if (samples == nullptr) return 1;
        if (dequantise_block(samples, values, count, delta, wanted,
                             d.plane == 0 ? &d.dither : nullptr) != 0) {
            return 1;
        }
        pool_free(values);
        float* destination = d.destination(wanted);
        for (int32_t r = 0; r < wanted_height; ++r) {
            float* out = destination + int64_t{r} * d.needed_width;
            const float* in = samples + int64_t{r} * wanted_width;
            for (int32_t q = 0; q < wanted_width; ++q) out[q] = in[q];
        }
        pool_free(samples);
    }
    release_stream_header(&table, blocks);
    return 0;
}

}  // namespace

int decode_subband(FILE* stream, RegionNode* leaf, int32_t subband, int32_t scale, int32_t plane,
                   int32_t planes) {
    const bool fast = !reference_decoder_in_use();
    const RegionRect needed{leaf->x0, leaf->x1, leaf->y0, leaf->y1};
    // The tile directory: the fast path keeps only the records that meet the needed rectangle
    // (shared between the leaves and planes of an open region decode); the reference path
    // reads every record, for every leaf.
    TileEntry* tiles = nullptr;
    int32_t tile_count = 0;
    DitherOrigin dither{};
    CachedDirectory* cached =
        fast && g_region.open ? directory_for_leaf(&g_region, subband, needed) : nullptr;
    if (cached != nullptr) {
        if (load_directory(stream, &g_region, cached) != 0) return 1;
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
    if (needed_width <= 0 || needed_height <= 0 || needed_width * needed_height > INT32_MAX) {
        return 1;
    }
    const int64_t needed_area = needed_width * needed_height;
    leaf->coefficients = static_cast<float*>(
        pool_calloc(static_cast<int32_t>(needed_area), static_cast<int32_t>(sizeof(float))));
    if (leaf->coefficients == nullptr) return 1;
    // The work budget: the region decode's, grown by this leaf's share, or the leaf's own.
    int64_t file_size = 0;
    WorkBudget own{0, 0};
    WorkBudget* work = &own;
    if (g_region.open) {
        file_size = g_region.file_size;
        work = &g_region.work;
        work->allowed += kWorkPerNeededSample * needed_area + kWorkSlack;
    } else {
        file_size = stream_size(stream);
        if (file_size < 0) return 1;
        own.allowed = leaf_work_budget(file_size, needed_area);
    }
    const LeafDecode d{stream, leaf, needed, needed_width, scale, plane, dither, file_size, work};
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
        if (covered > kMaxCoverage * needed_area + kCoverageSlack) return 1;
        if (!work->spend(kWorkPerTile)) return 1;
        if (tile.offsets[plane] == 0) continue;  // no stream: the tile's area keeps 0.0
        if (!work->spend(kWorkPerStream)) return 1;
        if (!fast) {
            if (decode_tile_reference(d, tile) != 0) return 1;
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
