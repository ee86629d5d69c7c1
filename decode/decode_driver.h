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
#include <cstdio>

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

int decode_subband(FILE* stream, RegionNode* leaf, int32_t subband, int32_t scale, int32_t plane,
                   int32_t planes);
int read_tile_directory(FILE* stream, int32_t subband, int32_t planes, TileEntry** tiles,
                        int32_t* tile_count, DitherOrigin* dither);
StreamHeaderResult read_tile_stream_header(FILE* stream, const TileEntry* tile, int32_t plane,
                                           float* step, CodeTable* table, BlockEntry** blocks,
                                           int32_t* block_count);
int make_block_grid(int32_t tile_width, int32_t tile_height, int32_t block_width,
                    int32_t block_height, BlockEntry** blocks, int32_t* block_count);
// While open, decode_subband keeps each tile directory it reads for the rest of the region
// decode instead of reading it again for every plane. close_directory_cache(true) releases
// the kept directories; close_directory_cache(false) forgets them (after pool_free_all).
int open_directory_cache(int32_t subbands);
void close_directory_cache(bool release);

bool rects_meet(const RegionRect& a, const RegionRect& b);
RegionRect rect_intersection(const RegionRect& a, const RegionRect& b);
