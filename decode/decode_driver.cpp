#include "decode/decode_driver.h"

#include <bit>
#include <cmath>

#include "decode/block_decoder.h"
#include "decode/dequantise.h"
#include "decode/reference/reference_decoder.h"
#include "decode/entropy_decoder.h"
#include "format/image_header.h"
#include "format/pool.h"

namespace {

constexpr int32_t kMaxTileSide = 65535;
// How often the tiles of a directory may cover the needed area of a leaf, plus a slack.
constexpr int64_t kMaxCoverage = 8;
constexpr int64_t kCoverageSlack = 65536;

// Bytes left in the stream from the current position, or -1 when that cannot be told.
int64_t bytes_remaining(FILE* stream) {
    const long position = std::ftell(stream);
    const long size = stream_size(stream);
    if (position < 0 || size < 0) return -1;
    return int64_t{size} - position;
}

void release_tile_table(TileEntry* tiles, int32_t count) {
    if (tiles == nullptr) return;
    for (int32_t t = 0; t < count; ++t) pool_free(tiles[t].offsets);
    pool_free(tiles);
}

void release_stream_header(CodeTable* table, BlockEntry* blocks) {
    if (blocks != nullptr) pool_free(blocks);  // a tile with no blocks has no list
    pool_free(table->symbols);
    pool_free(table->counts);
    table->symbols = nullptr;
    table->counts = nullptr;
}

// The tile directories read during one region decode, by subband number, so that the planes
// of a colour image share one read of each directory.
struct DirectoryCacheEntry {
    TileEntry* tiles;
    int32_t tile_count;
    DitherOrigin dither;
    bool loaded;
};
struct DirectoryCache {
    DirectoryCacheEntry* entries = nullptr;
    int32_t count = 0;
};
thread_local DirectoryCache g_directories;

}  // namespace

int open_directory_cache(int32_t subbands) {
    g_directories = DirectoryCache{};
    if (subbands <= 0) return 1;
    auto* entries = static_cast<DirectoryCacheEntry*>(
        pool_calloc(subbands, static_cast<int32_t>(sizeof(DirectoryCacheEntry))));
    if (entries == nullptr) return 1;
    g_directories = DirectoryCache{entries, subbands};
    return 0;
}

void close_directory_cache(bool release) {
    if (release && g_directories.entries != nullptr) {
        for (int32_t k = 0; k < g_directories.count; ++k) {
            const DirectoryCacheEntry& e = g_directories.entries[k];
            if (e.loaded) release_tile_table(e.tiles, e.tile_count);
        }
        pool_free(g_directories.entries);
    }
    g_directories = DirectoryCache{};
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
    if (subband < 0 || planes < 1) return 1;
    if (std::fseek(stream, kHeaderSize + 4L * subband, SEEK_SET) != 0) return 1;
    if (read_be32(stream, &offset) != 0) return 1;
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
    auto* table = static_cast<TileEntry*>(
        pool_calloc(count, static_cast<int32_t>(sizeof(TileEntry))));
    if (table == nullptr) return 1;
    *tiles = table;
    for (int32_t t = 0; t < count; ++t) {
        table[t].offsets = static_cast<int32_t*>(
            pool_alloc(static_cast<int32_t>(sizeof(int32_t)) * planes));
        if (table[t].offsets == nullptr) return 1;
        *tile_count = t + 1;
        for (int32_t j = 0; j < planes; ++j) {
            if (read_be32(stream, &table[t].offsets[j]) != 0) return 1;
        }
        if (read_be32(stream, &table[t].x0) != 0 || read_be32(stream, &table[t].y0) != 0 ||
            read_be32(stream, &table[t].x1) != 0 || read_be32(stream, &table[t].y1) != 0) {
            return 1;
        }
    }
    return 0;
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
    table->counts = nullptr;
    table->symbols = nullptr;
    const int32_t offset = tile->offsets[plane];
    if (offset == 0) return StreamHeaderResult::absent;
    if (offset < 0 || std::fseek(stream, offset, SEEK_SET) != 0) return StreamHeaderResult::failed;
    if (std::fgetc(stream) != 0xFF) return StreamHeaderResult::failed;
    if (std::fgetc(stream) != 0xAA) return StreamHeaderResult::failed;
    table->counts = static_cast<uint8_t*>(pool_alloc(16));
    table->symbols = static_cast<uint8_t*>(pool_calloc(256, 1));
    if (table->counts == nullptr || table->symbols == nullptr) return StreamHeaderResult::failed;
    if (std::fread(table->counts, 1, 16, stream) != 16) return StreamHeaderResult::failed;
    int32_t symbol_count = 0;
    for (int i = 0; i < 16; ++i) symbol_count += table->counts[i];
    if (symbol_count > 256) return StreamHeaderResult::failed;
    if (std::fread(table->symbols, 1, static_cast<std::size_t>(symbol_count), stream) !=
        static_cast<std::size_t>(symbol_count)) {
        return StreamHeaderResult::failed;
    }
    int32_t block_width = 0;
    int32_t block_height = 0;
    if (read_be32_float(stream, step) != 0 || read_be32(stream, &block_width) != 0 ||
        read_be32(stream, &block_height) != 0) {
        return StreamHeaderResult::failed;
    }
    const int64_t tile_width = int64_t{tile->x1} - tile->x0 + 1;
    const int64_t tile_height = int64_t{tile->y1} - tile->y0 + 1;
    if (tile_width < 0 || tile_height < 0 || tile_width > kMaxTileSide ||
        tile_height > kMaxTileSide || block_width <= 0 || block_height <= 0) {
        return StreamHeaderResult::failed;
    }
    // The block offsets must fit in the file before the grid takes memory for them.
    const int64_t count = ((tile_width + block_width - 1) / block_width) *
                          ((tile_height + block_height - 1) / block_height);
    const int64_t remaining = bytes_remaining(stream);
    if (remaining < 0 || count * 4 > remaining) return StreamHeaderResult::failed;
    if (make_block_grid(static_cast<int32_t>(tile_width), static_cast<int32_t>(tile_height),
                        block_width, block_height, blocks, block_count) != 0) {
        return StreamHeaderResult::failed;
    }
    for (int32_t b = 0; b < *block_count; ++b) {
        if (read_be32(stream, &(*blocks)[b].offset) != 0) return StreamHeaderResult::failed;
    }
    return StreamHeaderResult::read;
}

int decode_subband(FILE* stream, RegionNode* leaf, int32_t subband, int32_t scale, int32_t plane,
                   int32_t planes) {
    TileEntry* tiles = nullptr;
    int32_t tile_count = 0;
    DitherOrigin dither{};
    const bool cached = !reference_decoder_in_use() && subband >= 0 &&
                        subband < g_directories.count;
    if (cached && g_directories.entries[subband].loaded) {
        const DirectoryCacheEntry& e = g_directories.entries[subband];
        tiles = e.tiles;
        tile_count = e.tile_count;
        dither = e.dither;
    } else {
        if (read_tile_directory(stream, subband, planes, &tiles, &tile_count, &dither) != 0) {
            return 1;
        }
        if (cached) g_directories.entries[subband] = {tiles, tile_count, dither, true};
    }
    const RegionRect needed{leaf->x0, leaf->x1, leaf->y0, leaf->y1};
    const int64_t needed_width = int64_t{needed.x1} - needed.x0 + 1;
    const int64_t needed_height = int64_t{needed.y1} - needed.y0 + 1;
    if (needed_width <= 0 || needed_height <= 0 || needed_width * needed_height > INT32_MAX) {
        return 1;
    }
    leaf->coefficients = static_cast<float*>(pool_calloc(
        static_cast<int32_t>(needed_width * needed_height), static_cast<int32_t>(sizeof(float))));
    if (leaf->coefficients == nullptr) return 1;
    int64_t covered = 0;
    for (int32_t t = 0; t < tile_count; ++t) {
        const TileEntry& tile = tiles[t];
        const RegionRect tile_rect{tile.x0, tile.x1, tile.y0, tile.y1};
        if (!rects_meet(tile_rect, needed)) continue;
        // Tiles may overlap (the later one wins), but a directory that stacks the same area
        // many times would make the work grow with its records instead of with the window:
        // refuse one whose tiles cover the needed area more than a few times over.
        const RegionRect met = rect_intersection(tile_rect, needed);
        const int64_t met_width = int64_t{met.x1} - met.x0 + 1;
        const int64_t met_height = int64_t{met.y1} - met.y0 + 1;
        if (met_width > 0 && met_height > 0) covered += met_width * met_height;
        if (covered > kMaxCoverage * needed_width * needed_height + kCoverageSlack) return 1;
        float step = 0.0f;
        CodeTable table{};
        BlockEntry* blocks = nullptr;
        int32_t block_count = 0;
        const StreamHeaderResult header =
            read_tile_stream_header(stream, &tile, plane, &step, &table, &blocks, &block_count);
        if (header == StreamHeaderResult::absent) continue;
        if (header == StreamHeaderResult::failed) return 1;
        const float delta = effective_step(step, leaf->gain, scale);
        // Blocks of one tile never overlap; only a tile that overlaps an earlier one can find
        // values already written where its blocks go.
        bool overlapped = false;
        for (int32_t u = 0; u < t && !overlapped; ++u) {
            overlapped = rects_meet(RegionRect{tiles[u].x0, tiles[u].x1, tiles[u].y0, tiles[u].y1},
                                    RegionRect{tile.x0, tile.x1, tile.y0, tile.y1});
        }
        // The decoding tables and the dequantisation table serve every block of the stream.
        // They are made at the first block that is decoded: a code table is only checked when
        // a block is decoded with it.
        const bool fast = !reference_decoder_in_use();
        BlockDecoderTables* tables = nullptr;
        DequantiseTable dequantise{};
        for (int32_t b = 0; b < block_count; ++b) {
            const BlockEntry& block = blocks[b];
            // x0 + column + width - 1 <= x1, so grouping the block terms first cannot overflow.
            const RegionRect rect{tile.x0 + block.column, tile.x0 + (block.column + block.width - 1),
                                  tile.y0 + block.row, tile.y0 + (block.row + block.height - 1)};
            if (!rects_meet(rect, needed)) continue;
            const RegionRect wanted = rect_intersection(needed, rect);
            const int32_t wanted_width = wanted.x1 - wanted.x0 + 1;
            const int32_t wanted_height = wanted.y1 - wanted.y0 + 1;
            const int32_t count = wanted_width * wanted_height;
            float* destination = leaf->coefficients +
                                 (int64_t{wanted.y0} - needed.y0) * needed_width +
                                 (wanted.x0 - needed.x0);
            if (block.offset < 0 || std::fseek(stream, block.offset, SEEK_SET) != 0) return 1;
            if (fast && tables == nullptr) {
                tables = static_cast<BlockDecoderTables*>(pool_alloc(sizeof(BlockDecoderTables)));
                if (tables == nullptr || build_block_decoder_tables(table, tables) != 0) return 1;
                make_dequantise_table(delta, &dequantise);
            }
            if (fast) {
                // Decode, dequantise (and dither) straight into the leaf.
                if (decode_block_into(stream, *tables, rect, wanted, dequantise, destination,
                                      needed_width, overlapped) != 0) {
                    return 1;
                }
                if (plane == 0 && !dequantise.zero) {
                    subtract_dither_rows(destination, needed_width, delta, wanted, &dither);
                }
                continue;
            }
            auto* values = static_cast<int16_t*>(
                pool_calloc(count, static_cast<int32_t>(sizeof(int16_t))));
            if (values == nullptr) return 1;
            if (decode_block(stream, values, table, rect, wanted) != 0) return 1;
            auto* samples = static_cast<float*>(
                pool_alloc(count * static_cast<int32_t>(sizeof(float))));
            if (samples == nullptr) return 1;
            if (dequantise_block(samples, values, count, delta, wanted,
                                 plane == 0 ? &dither : nullptr) != 0) {
                return 1;
            }
            pool_free(values);
            for (int32_t r = 0; r < wanted_height; ++r) {
                float* out = destination + int64_t{r} * needed_width;
                const float* in = samples + int64_t{r} * wanted_width;
                for (int32_t q = 0; q < wanted_width; ++q) out[q] = in[q];
            }
            pool_free(samples);
        }
        if (tables != nullptr) pool_free(tables);
        release_stream_header(&table, blocks);
    }
    if (!cached) release_tile_table(tiles, tile_count);
    return 0;
}
