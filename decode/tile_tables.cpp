#include "decode/tile_tables.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "format/image_header.h"
#include "format/pool.h"

namespace {

constexpr int32_t kMaxTileSide = 65535;
// Bytes of a tile stream before its block offsets, not counting the N symbol values.
constexpr int64_t kStreamHeaderBytes = 30;

// Bytes left in the stream from the current position, or -1 when that cannot be told.
int64_t bytes_remaining(ByteStream* stream) {
    return stream->tell() <= stream->size() ? stream->size() - stream->tell() : 0;
}

// Records why the decode fails (the first reason stays) and gives the failure result.
int note(DecodeContext* context, const std::string& what) {
    if (context != nullptr) context->fail(DecodeStatus::damaged, context->place() + what);
    return 1;
}
StreamHeaderResult note_stream(DecodeContext* context, int32_t offset, const std::string& what) {
    note(context, "tile stream at offset " + std::to_string(offset) + ": " + what);
    return StreamHeaderResult::failed;
}

int32_t be32_at(const uint8_t* bytes) {
    return static_cast<int32_t>((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                                (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]});
}

bool meets_any(const RegionRect& rect, const RegionRect* wanted, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (rects_meet(rect, wanted[i])) return true;
    }
    return false;
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

}  // namespace

RegionRect tile_rect(const TileEntry& tile) {
    return RegionRect{tile.x0, tile.x1, tile.y0, tile.y1};
}

// Reads the file offset of subband k's tile directory from the pointer table.
int read_directory_offset(ByteStream* stream, int32_t subband, int32_t* offset) {
    if (subband < 0) return 1;
    const int64_t at = kHeaderSize + 4L * subband;
    if (!stream->seek(at) || read_be32(stream, offset) != 0) {
        return note(stream->context(),
                    "the subband pointer table entry of subband " + std::to_string(subband) +
                        " at offset " + std::to_string(at) + " lies beyond the end of the file (" +
                        std::to_string(stream->size()) + " bytes)");
    }
    return 0;
}

namespace {

int read_be32(FileCursor& cursor, int32_t* destination) {
    uint8_t bytes[4];
    if (!cursor.read(bytes, 4)) return 1;
    *destination = be32_at(bytes);
    return 0;
}

int read_be32_float(FileCursor& cursor, float* destination) {
    int32_t bits = 0;
    if (read_be32(cursor, &bits) != 0) return 1;
    std::memcpy(destination, &bits, sizeof bits);
    return 0;
}

}  // namespace

StreamHeaderResult read_stream_start(FileCursor& cursor, int32_t offset, StreamStart* start) {
    CodeTable* table = &start->table;
    table->counts = nullptr;
    table->symbols = nullptr;
    start->offset = offset;
    if (offset == 0) return StreamHeaderResult::absent;
    DecodeContext* context = cursor.context();
    if (offset < 0 || !cursor.seek(offset)) {
        return note_stream(context, offset, "a negative offset");
    }
    if (cursor.get() != 0xFF || cursor.get() != 0xAA) {
        return note_stream(context, offset, "no 0xFF 0xAA at its start");
    }
    const auto failed = [table]() {
        release_stream_header(table, nullptr);
        return StreamHeaderResult::failed;
    };
    table->counts = static_cast<uint8_t*>(pool_alloc(16));
    table->symbols = static_cast<uint8_t*>(pool_calloc(256, 1));
    if (table->counts == nullptr || table->symbols == nullptr) return failed();
    const auto cut_short = [&]() {
        note_stream(context, offset, "its start is cut short by the end of the file");
        return failed();
    };
    if (!cursor.read(table->counts, 16)) return cut_short();
    int32_t symbols = 0;
    for (int i = 0; i < 16; ++i) symbols += table->counts[i];
    if (symbols > 256) {
        note_stream(context, offset, std::to_string(symbols) + " code lengths, more than 256");
        return failed();
    }
    if (!cursor.read(table->symbols, symbols)) return cut_short();
    if (read_be32_float(cursor, &start->step) != 0 || read_be32(cursor, &start->block_width) != 0 ||
        read_be32(cursor, &start->block_height) != 0) {
        return cut_short();
    }
    if (start->block_width <= 0 || start->block_height <= 0) {
        note_stream(context, offset,
                    "blocks of " + std::to_string(start->block_width) + " x " +
                        std::to_string(start->block_height));
        return failed();
    }
    start->symbol_count = symbols;
    return StreamHeaderResult::read;
}

StreamHeaderResult read_stream_start(ByteStream* stream, int32_t offset, StreamStart* start) {
    FileCursor cursor(stream);
    return read_stream_start(cursor, offset, start);
}

bool tile_size_usable(const TileEntry& tile) {
    const int64_t width = int64_t{tile.x1} - tile.x0 + 1;
    const int64_t height = int64_t{tile.y1} - tile.y0 + 1;
    return width >= 0 && height >= 0 && width <= kMaxTileSide && height <= kMaxTileSide;
}

int read_block_window(FileCursor& cursor, const TileEntry& tile, const StreamStart& start,
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
    if (count * 4 > file_size - table_at || count * static_cast<int64_t>(sizeof(BlockEntry)) > INT32_MAX) {
        note_stream(cursor.context(), start.offset,
                    "the offsets of its " + std::to_string(count) +
                        " blocks do not fit in the file");
        return 1;
    }
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
        if (row_at != position && !cursor.seek(row_at)) return failed();
        position = row_at;
        const int64_t row = i * start.block_height;
        const int64_t height = std::min<int64_t>(start.block_height, tile_height - row);
        for (int64_t q = first_column; q <= last_column;) {
            const int64_t take = std::min(kChunk, last_column - q + 1);
            if (!cursor.read(bytes, 4 * take)) return failed();
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

int read_block_window(ByteStream* stream, const TileEntry& tile, const StreamStart& start,
                      const RegionRect& needed, int64_t file_size, BlockEntry** blocks,
                      int32_t* block_count) {
    FileCursor cursor(stream);
    return read_block_window(cursor, tile, start, needed, file_size, blocks, block_count);
}

int read_tile_directory(ByteStream* stream, int32_t subband, int32_t planes, TileEntry** tiles,
                        int32_t* tile_count, DitherOrigin* dither) {
    *tiles = nullptr;
    *tile_count = 0;
    int32_t offset = 0;
    if (read_directory_offset(stream, subband, &offset) != 0) return 1;
    return read_tile_directory_at(stream, offset, planes, nullptr, 0, tiles, tile_count, dither);
}

int read_tile_directory_at(ByteStream* stream, int32_t offset, int32_t planes, const RegionRect* wanted,
                           int32_t wanted_count, TileEntry** tiles, int32_t* tile_count,
                           DitherOrigin* dither) {
    *tiles = nullptr;
    *tile_count = 0;
    if (planes < 1 || planes > kMaxPlanes) return 1;
    DecodeContext* context = stream->context();
    const std::string where = "tile directory at offset " + std::to_string(offset) + ": ";
    if (offset < 0 || !stream->seek(offset)) return note(context, where + "a negative offset");
    if (stream->get() != 0xFF || stream->get() != 0xAC) {
        return note(context, where + "no 0xFF 0xAC at its start");
    }
    const int column = stream->get();
    const int row = stream->get();
    if (column == ByteStream::kEnd || row == ByteStream::kEnd) {
        return note(context, where + "cut short by the end of the file");
    }
    dither->column = static_cast<uint8_t>(column);
    dither->row = static_cast<uint8_t>(row);
    int32_t count = 0;
    if (read_be32(stream, &count) != 0) {
        return note(context, where + "cut short by the end of the file");
    }
    // Refuse a count whose records could not fit in what is left of the file before taking
    // memory for them.
    const int64_t record_size = 4 * int64_t{planes} + 16;
    const int64_t remaining = bytes_remaining(stream);
    if (count < 0 || remaining < 0 || int64_t{count} * record_size > remaining) {
        return note(context, where + std::to_string(count) + " records do not fit in the file");
    }
    if (count == 0) return 0;
    uint8_t record[4 * kMaxPlanes + 16];
    RecordBuffer kept;
    kept.width = planes + 4;
    // A filtered read usually keeps few records: start small and double.
    const int32_t first_capacity = wanted == nullptr ? count : std::min(count, 64);
    for (int32_t t = 0; t < count; ++t) {
        if (stream->read(record, record_size) != record_size) {
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

StreamHeaderResult read_tile_stream_header(ByteStream* stream, const TileEntry* tile, int32_t plane,
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

StreamHeaderResult read_tile_stream_window(ByteStream* stream, const TileEntry* tile, int32_t plane,
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
