// The fast block decoder: the code tree and a 10-bit look-up table (which names two symbols
// where both short codes fit its bits) are built once per tile stream, and the block's bits
// are taken from a 64-bit accumulator filled from a window of the file's bytes. Where the
// data holds a marker (0xFF followed by a non-zero byte) or ends, the decoder goes on one bit
// at a time with exactly the stuffing rules of each path.
#pragma once

#include <cstdint>
#include "format/byte_stream.h"

#include "decode/code_tree.h"
#include "decode/decode_driver.h"
#include "decode/dequantise.h"
#include "decode/file_window.h"
#include "format/region_request.h"

struct BlockDecoderTables {
    CodeTree tree;
    static constexpr int kLookupBits = 10;
    // Indexed by the next kLookupBits bits: a symbol and its code length, a node to go on
    // from after kLookupBits bits, or an empty slot. A kShort entry whose bits also hold the
    // whole code of a second kShort symbol names that one too, so that two symbols are taken
    // with one look-up.
    struct Entry {
        uint8_t value;             // the symbol, or the node to go on from
        uint8_t length;            // bits of the code (kLookupBits for a node)
        uint8_t kind;              // kShort, kSymbol, kNode, kEmpty
        uint8_t taken_length = 0;  // kShort: bits of both codes (length when there is no second)
        uint8_t covered = 0;       // kShort: coefficients covered (at most 100)
        uint8_t next_covered = 0;  // the second symbol's coefficients covered (0: none)
        int8_t amount = 0;         // kShort: the value (-73..75)
        int8_t next_amount = 0;    // the second symbol's value (0: none)
    } lookup[1 << kLookupBits];
    // kShort: a symbol without further bits, its meaning in the entry; kSymbol: a symbol
    // followed by further bits.
    static constexpr uint8_t kShort = 0, kSymbol = 1, kNode = 2, kEmpty = 3;
};

// Builds the tables of a code table; fails for tables no valid file holds.
int build_block_decoder_tables(const CodeTable& table, BlockDecoderTables* tables);

// decode_block with tables built beforehand: same contract, same results.
// The number of symbols taken is added to *symbols (when not null), whether the block
// succeeds or fails.
int decode_block_with_tables(ByteStream* stream, int16_t* output, const BlockDecoderTables& tables,
                             const RegionRect& block, const RegionRect& wanted,
                             int64_t* symbols = nullptr);

// Decodes a block straight into dequantised values: every coded value of the window is
// dequantised into place (rows pitch floats apart from destination); the window's other
// samples must be 0.0 already, or clear asks for them to be set. No dither is applied. Same
// verdict as decode_block. The number of symbols taken is added to *symbols (when not null).
int decode_block_into(ByteStream* stream, const BlockDecoderTables& tables, const RegionRect& block,
                      const RegionRect& wanted, const DequantiseTable& dequantise,
                      float* destination, int64_t pitch, bool clear, int64_t* symbols = nullptr);
// decode_block_into for the block whose bytes start at offset in the file, read through file
// (the stream behind it keeps its position): the same bytes give the same values and verdict.
int decode_block_into_at(FileWindow* file, int64_t offset, const BlockDecoderTables& tables,
                         const RegionRect& block, const RegionRect& wanted,
                         const DequantiseTable& dequantise, float* destination, int64_t pitch,
                         bool clear, int64_t* symbols = nullptr);
