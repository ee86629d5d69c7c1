// Reading tile directories and tile streams: the pieces the decode driver uses besides the
// format's own routines (declared in decode_driver.h).
#pragma once

#include <cstdint>
#include "format/byte_stream.h"

#include "decode/decode_driver.h"
#include "decode/file_window.h"

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
StreamHeaderResult read_stream_start(ByteStream* stream, int32_t offset, StreamStart* start);
// The same through a cursor (which a read-ahead window may serve).
StreamHeaderResult read_stream_start(FileCursor& cursor, int32_t offset, StreamStart* start);

// A tile whose blocks can be laid out: 0 to 65535 columns and rows.
bool tile_size_usable(const TileEntry& tile);

// The blocks of a tile that meet the needed rectangle, in raster order, with their offsets read
// from the stream's offset table (whose block rows are read only where needed). The whole
// table must fit in the file and its grid must be one that could be held.
int read_block_window(ByteStream* stream, const TileEntry& tile, const StreamStart& start,
                      const RegionRect& needed, int64_t file_size, BlockEntry** blocks,
                      int32_t* block_count);
int read_block_window(FileCursor& cursor, const TileEntry& tile, const StreamStart& start,
                      const RegionRect& needed, int64_t file_size, BlockEntry** blocks,
                      int32_t* block_count);

// Reads the file offset of subband k's tile directory from the pointer table.
int read_directory_offset(ByteStream* stream, int32_t subband, int32_t* offset);

RegionRect tile_rect(const TileEntry& tile);
