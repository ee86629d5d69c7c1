// The straightforward decoder: one tree step per bit straight from the stream, a code tree
// rebuilt for every block, line synthesis with a mirror test per sample, and half nodes stored
// column by column. The fast decoder must produce exactly the same bytes; tests and fuzzers
// compare the two. It is built with the tests only, never into the library.
#pragma once

#include <cstdint>
#include "format/byte_stream.h"

#include "decode/decode_driver.h"
#include "decode/decoder_override.h"
#include "decode/leaf_decode.h"
#include "format/region_request.h"

// The number of symbols taken (each symbol read, also one that fails) is added to *symbols
// when not null, as the fast decoder counts them.
int decode_block_reference(ByteStream* stream, int16_t* output, const CodeTable& table,
                           const RegionRect& block, const RegionRect& wanted,
                           int64_t* symbols = nullptr);
void synthesise_line_reference(float* output, int32_t a, int32_t b, const float* low,
                               const float* high, int32_t stride, int32_t nL, int32_t nH);
int synthesise_node_reference(RegionNode* node);

// One tile of a leaf the plain way: the whole block grid is laid out, every block that meets
// the leaf is decoded with decode_block_reference into quantised values, dequantised, and
// copied in.
int decode_tile_reference(const LeafDecode& leaf, const TileEntry& tile);

// The straightforward decoder as a decoder override: a decode whose context (or window
// settings, or kavel::Image::decode argument) names it takes the paths above.
const DecoderOverride* reference_decoder();
