// A fast deflate coder for filtered picture rows: literals only, each block with a Huffman
// code made for it (filtered photographs gain little from repeated strings, and coding
// literals alone runs several times faster than zlib's fastest level). Stored blocks are
// written for level 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavel_output {

// The most bytes deflate_literals writes for size bytes of data.
std::size_t deflate_literals_bound(std::size_t size);

// Writes raw deflate blocks holding data to out (room for deflate_literals_bound(size)
// bytes) and returns the bytes written. With final set the last block ends the stream;
// otherwise the blocks end on a byte boundary with an empty stored block, so that another
// raw deflate stream may follow directly. stored: no compression.
std::size_t deflate_literals(const uint8_t* data, std::size_t size, bool final, bool stored,
                             uint8_t* out);

// Code lengths (at most max_bits) of a Huffman code for the counts; 0 for unused symbols.
// At least two symbols get a length whenever any count is set.
void huffman_code_lengths(const uint32_t* counts, int symbols, int max_bits, uint8_t* lengths);

}  // namespace kavel_output
