// The straightforward decoder: one tree step per bit straight from the stream, a code tree
// rebuilt for every block, line synthesis with a mirror test per sample, and half nodes stored
// column by column. The fast decoder must produce exactly the same bytes; tests and fuzzers
// compare the two.
#pragma once

#include <cstdint>
#include "format/byte_stream.h"

#include "decode/decode_driver.h"
#include "format/region_request.h"

// The number of symbols taken (each symbol read, also one that fails) is added to *symbols
// when not null, as the fast decoder counts them.
int decode_block_reference(ByteStream* stream, int16_t* output, const CodeTable& table,
                           const RegionRect& block, const RegionRect& wanted,
                           int64_t* symbols = nullptr);
void synthesise_line_reference(float* output, int32_t a, int32_t b, const float* low,
                               const float* high, int32_t stride, int32_t nL, int32_t nH);
int synthesise_node_reference(RegionNode* node);

// While set, region decodes on this thread take the straightforward paths above (for
// comparisons).
void use_reference_decoder(bool on);
bool reference_decoder_in_use();
