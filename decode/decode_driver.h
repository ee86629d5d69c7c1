// The decode driver: fills one leaf of a plane's region tree from the file.
//
// Tile directory of a subband (at the offset from the subband pointer table):
//   +0  0xFF 0xAC
//   +2  dither column origin (byte), +3 dither row origin (byte)
//   +4  tile count T (be32)
//   +8  T tile records: P stream offsets (be32, 0 = no stream), then x0, y0, x1, y1 (be32)
//
// Tile stream of one plane in one tile:
//   +0     0xFF 0xAA
//   +2     16 code-length counts c[1..16]
//   +18    N = c[1] + ... + c[16] symbol values (N <= 256)
//   +18+N  step (be32 IEEE single), block width BW, block height BH (be32 each)
//   +30+N  ceil(TW/BW) x ceil(TH/BH) block offsets (be32), block rows top to bottom
#pragma once

#include <cstdint>
#include "format/byte_stream.h"

#include "format/region_request.h"

struct TileEntry {
    int32_t* offsets;  // one stream offset per plane
    int32_t x0, x1, y0, y1;
};

struct DitherOrigin {
    uint8_t column;
    uint8_t row;
};

struct CodeTable {
    uint8_t* counts;   // 16 bytes: counts[L-1] = number of codes of length L
    uint8_t* symbols;  // 256 bytes, the first N are used
};

struct BlockEntry {
    int32_t offset;
    uint16_t column, row;  // relative to the tile's corner
    uint16_t width, height;
};

enum class StreamHeaderResult { absent, failed, read };

// The per-scale step divisor c (IEEE double bits 0x3FF83698F805389E).
double scale_step_divisor();
// Effective step: ((1 / c^s) / gain) x step, in double, rounded to single once.
float effective_step(float step, float gain, int32_t scale);

// Fills the leaf's coefficient array (its needed rectangle) from subband k's tiles for plane j,
// with 0.0 where the file has no data. Fails on damaged data, on tiles that cover the needed
// area more than eight times over, and when the work budget (below) runs out.
int decode_subband(ByteStream* stream, RegionNode* leaf, int32_t subband, int32_t scale, int32_t plane,
                   int32_t planes);

// Reads the tile directory of subband k into a new tile table: every record, in directory
// order. The table is one pool block (the entries, then their stream offsets); release it with
// release_tile_table.
int read_tile_directory(ByteStream* stream, int32_t subband, int32_t planes, TileEntry** tiles,
                        int32_t* tile_count, DitherOrigin* dither);
// Reads the tile directory at a file offset, keeping (in directory order) only the records
// whose rectangle meets one of the wanted_count rectangles of wanted; every record when wanted
// is null. Every record is still read, so a directory that does not fit in the file fails
// whatever is kept. The table is one pool block, or none when nothing is kept.
int read_tile_directory_at(ByteStream* stream, int32_t offset, int32_t planes, const RegionRect* wanted,
                           int32_t wanted_count, TileEntry** tiles, int32_t* tile_count,
                           DitherOrigin* dither);
// Releases a table made by the two readers above (none is allowed).
void release_tile_table(TileEntry* tiles);

// Reads the stream header of a tile for one plane with its whole block grid.
StreamHeaderResult read_tile_stream_header(ByteStream* stream, const TileEntry* tile, int32_t plane,
                                           float* step, CodeTable* table, BlockEntry** blocks,
                                           int32_t* block_count);
// As read_tile_stream_header, but lays out only the blocks that meet the needed rectangle (in
// raster order) and reads only their offsets; the whole offset table must still fit in the
// file, whose size in bytes the caller gives.
StreamHeaderResult read_tile_stream_window(ByteStream* stream, const TileEntry* tile, int32_t plane,
                                           const RegionRect& needed, int64_t file_size, float* step,
                                           CodeTable* table, BlockEntry** blocks,
                                           int32_t* block_count);
// Releases what a stream header read took (a null block list is allowed).
void release_stream_header(CodeTable* table, BlockEntry* blocks);
int make_block_grid(int32_t tile_width, int32_t tile_height, int32_t block_width,
                    int32_t block_height, BlockEntry** blocks, int32_t* block_count);

// A leaf of a region walk: its subband and its needed rectangle.
struct LeafNeed {
    int32_t subband;
    RegionRect needed;
};

// What the leaves of one region decode share while it is open (held by the stream's
// DecodeContext, so that decodes on several threads or several streams never meet):
// - the tile directories: each distinct directory (by file offset) is read once, when the
//   first leaf naming it is decoded, and keeps only the records that meet the needed rectangle
//   of some leaf naming it (the planes of a colour image share it too);
// - one work account for the whole decode, granted when it is opened: the work factor (16 by
//   default) x the file's size in bytes, plus for each leaf it is opened with (once, whatever
//   the number of planes) 4 x its needed area + 65536. Decoded symbols cost 1 each, a tile
//   record met 1, a tile stream 256, a block 24, and every byte fetched from the source 1 (a
//   block that makes the file window read 16 KB again costs 16 KB again). The leaf that goes
//   beyond fails, and with it the decode. A valid file decodes each block once per decode and
//   spends at least a bit per symbol, so it stays well within; a file that names the same long
//   data again and again (from many tile records, many subbands or many planes) is refused
//   instead of taking time that grows faster than its size.
// The leaves are those the region walk will decode; a leaf decoded without being named adds
// its share when it is decoded. Without an open region decode, each decode_subband reads its
// own directory and has a budget of its own (leaf_work_budget).
// close_region_decode(stream, true) releases what the decode kept (also after a failure,
// before pool_free_all: the file window holds memory outside the pool); (stream, false)
// forgets it.
int open_region_decode(ByteStream* stream, int32_t planes, const LeafNeed* leaves,
                       int32_t leaf_count);
void close_region_decode(ByteStream* stream, bool release);
// The work the region decode open on the stream has spent so far (for tests).
int64_t region_work_spent(ByteStream* stream);

// The work a leaf decoded alone may spend: 16 x file size + 4 x needed area + 65536.
int64_t leaf_work_budget(int64_t file_size, int64_t needed_area);

bool rects_meet(const RegionRect& a, const RegionRect& b);
RegionRect rect_intersection(const RegionRect& a, const RegionRect& b);
