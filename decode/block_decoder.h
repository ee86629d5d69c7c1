// The fast block decoder: the code tree and an 8-bit look-up table are built once per tile
// stream, and the block's bits are taken from a 64-bit accumulator filled from a window of
// the file's bytes. Where the data holds a marker (0xFF followed by a non-zero byte) or ends,
// the decoder goes on one bit at a time with exactly the stuffing rules of each path.
#pragma once

#include <cstdint>
#include <cstdio>

#include "decode/code_tree.h"
#include "decode/decode_driver.h"
#include "decode/dequantise.h"
#include "format/region_request.h"

struct BlockDecoderTables {
    CodeTree tree;
    // Indexed by the next 8 bits: a symbol and its code length, a node to go on from after
    // 8 bits, or an empty slot.
    struct Entry {
        uint16_t value;  // the symbol, or the node to go on from
        uint8_t length;  // bits of the code (8 for a node)
        uint8_t kind;    // kSymbol, kNode, kEmpty
        uint8_t extra = 0;     // further bits after the code: 0, 8 or 16
        uint8_t is_value = 0;  // for symbols without further bits: a value, or a run
        int16_t covered = 0;   // coefficients covered
        int16_t amount = 0;    // the value
    } lookup[256];
    static constexpr uint8_t kSymbol = 0, kNode = 1, kEmpty = 2;
};

// Builds the tables of a code table; fails for tables no valid file holds.
int build_block_decoder_tables(const CodeTable& table, BlockDecoderTables* tables);

// decode_block with tables built beforehand: same contract, same results.
int decode_block_with_tables(FILE* stream, int16_t* output, const BlockDecoderTables& tables,
                             const RegionRect& block, const RegionRect& wanted);

// Decodes a block straight into dequantised values: every coded value of the window is
// dequantised into place (rows pitch floats apart from destination); the window's other
// samples must be 0.0 already, or clear asks for them to be set. No dither is applied. Same
// verdict as decode_block.
int decode_block_into(FILE* stream, const BlockDecoderTables& tables, const RegionRect& block,
                      const RegionRect& wanted, const DequantiseTable& dequantise,
                      float* destination, int64_t pitch, bool clear);
