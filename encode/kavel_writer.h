// The Kavel file writer: lays out a complete file from quantised coefficients.
//
// This is the low-level half of the encoder. It takes, for every subband, a tile directory
// (dither origin and tiles), and for every tile and plane either nothing (stream offset 0) or
// the quantised coefficients of the tile with the step and the block size; it chooses the
// symbols, builds one canonical prefix code per tile stream (lengths at most 16 bits, or uses a
// code table you give), codes the blocks with byte stuffing and writes header, subband pointer
// table, tile directories, tile streams and blocks with absolute offsets.
//
// File layout (every integer signed 32-bit big-endian, offsets absolute from byte 0):
//
//   header          "kvel", 3 free bytes, planes P, levels L, width W, height H   (23 bytes)
//   pointer table   3L+1 offsets of the tile directories, subband 0 first
//   tile directory  FF AC, dither column origin (byte), dither row origin (byte), T,
//                   T records of { P stream offsets (0 = no stream), x0, y0, x1, y1 }
//   tile stream     FF AA, counts c[1..16] (bytes), N = sum c symbol bytes, step (IEEE single),
//                   block width BW, block height BH, ceil(TW/BW) x ceil(TH/BH) block offsets
//                   (block rows top to bottom, each left to right)
//   block           FF A3, then the code bits, most significant bit first; a 0x00 follows
//                   every 0xFF data byte; the last byte is padded with 1-bits
//
// Block symbols: 1..100 run of that many zeros; 101/102 +/- 8-bit magnitude; 103/104 +/- 16-bit
// magnitude; 105/106 run of an 8-/16-bit length; 107..255 the value V - 180 (-73..+75);
// 0 stands for nothing. Extra bits follow the code, most significant first.
//
// Example: one grey 8 x 8 image, L = 0, every coefficient 10, step 1:
//
//   kavel::FileInput file;
//   file.planes = 1; file.levels = 0; file.width = 8; file.height = 8;
//   file.subbands.resize(1);
//   kavel::TileInput tile{0, 0, 7, 7, {}};
//   kavel::StreamInput stream;
//   stream.step = 1.0f; stream.block_width = 8; stream.block_height = 8;
//   stream.coefficients.assign(64, 10);
//   tile.planes.push_back(stream);
//   file.subbands[0].tiles.push_back(tile);
//   std::vector<uint8_t> bytes;
//   std::string error;
//   if (!kavel::write_kavel(file, &bytes, &error)) { ... }
//
// The writer checks what it needs to write a file the reader can parse (sizes, block sizes,
// tiles no larger than 65535 x 65535, one stream per plane, code tables, the 2 GiB limit of
// 32-bit offsets) and fails with a message otherwise. It deliberately does not check that tiles
// lie within their subband, cover it, or do not overlap: such files are valid.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "encode/band_geometry.h"

namespace kavel {

// A canonical prefix code as a tile stream stores it: counts[i] = number of codes of length
// i + 1 bits, symbols listed in order of increasing code length. Codes are assigned as in
// JPEG: consecutive values within a length, doubled when the length grows.
struct CodeTable {
    std::array<uint8_t, 16> counts{};
    std::vector<uint8_t> symbols;
};

// One symbol of a block with its extra bits (8 bits for 101, 102, 105; 16 bits for 103, 104,
// 106; none otherwise; extra is ignored where there are none).
struct BlockSymbol {
    uint8_t symbol = 0;
    uint32_t extra = 0;
    bool operator==(const BlockSymbol&) const = default;
};

// The coded form of one tile stream (one plane of one tile): what the file stores, without
// offsets.
struct EncodedStream {
    CodeTable table;
    float step = 0.0f;
    int32_t block_width = 0;
    int32_t block_height = 0;
    // Block data of all blocks back to back, raster order; block i occupies
    // data[block_start[i] .. block_start[i + 1]), or is the file's shared empty block
    // (FF A3 FF FF, all coefficients zero) when block_start[i] == kEmptyBlock.
    std::vector<uint8_t> data;
    std::vector<uint64_t> block_start;  // one entry per block, plus the end of data
    static constexpr uint64_t kEmptyBlock = ~uint64_t{0};
    int32_t block_count() const { return static_cast<int32_t>(block_start.size()) - 1; }
};

// One plane of one tile, by its quantised coefficients.
struct StreamInput {
    float step = 1.0f;  // stored step: the reader dequantises with step / gain at scale 0
    int32_t block_width = 64;
    int32_t block_height = 64;
    // Quantised coefficients of the whole tile, row-major, TW x TH. The reader keeps the low
    // 16 bits of each value: values in -65535..65535 are coded with their own magnitude
    // (40000 is written as symbol 103 with magnitude 40000 and reads back as -25536); values
    // beyond that are reduced to their low 16 bits first.
    std::vector<int32_t> coefficients;
    // A code table to use instead of the optimal one built from the symbol frequencies. The
    // symbols are then chosen among those the table has (a value without a direct symbol
    // falls back to an 8-bit, then a 16-bit magnitude; runs use the run symbols the table
    // has, or value 0 (symbol 180) for single zeros); the write fails if a coefficient cannot
    // be expressed.
    std::optional<CodeTable> code_table;
    // Per-block symbol lists that replace the coded coefficients of that block (index = block
    // number in raster order; an empty optional or a missing entry codes the coefficients).
    // The symbols are written as given, which allows any symbol sequence, including ones
    // that do not cover the block or that use symbol 0.
    std::vector<std::optional<std::vector<BlockSymbol>>> block_symbols;
    // Write all-zero blocks as the file's shared empty block instead of a coded zero run.
    bool share_empty_blocks = true;
    // Without a given code table: leave rare direct values and runs out of the table when
    // spelling them with the escape symbols costs fewer bits than their table entries.
    bool prune_rare_symbols = true;
};

// One tile of a subband: its rectangle (inclusive, subband coordinates) and per plane either a
// stream or nothing (offset 0 in the file). planes.size() must equal the file's plane count.
struct TileInput {
    int32_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;
    std::vector<std::optional<StreamInput>> planes;
};

// The same, with streams already coded (encode_stream).
struct EncodedTile {
    int32_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;
    std::vector<std::optional<EncodedStream>> planes;
};

// The order in which the structures after the pointer table are laid out.
enum class LayoutOrder {
    // Per subband: its directory, then per tile and plane the stream header followed by its
    // blocks.
    natural,
    // All tile streams and blocks first (subband by subband), then all directories.
    directories_last,
    // The natural sequence of structures reversed: the last subband first, blocks before
    // their stream header, the directory after its streams.
    reversed,
    // Every tile directory, then every stream header (with its block offsets), then every
    // stream's blocks, each in the natural order: what a reader needs to find any block lies
    // together near the start of the file, so that a reader of a remote file gets it in a
    // few requests.
    index_first,
    // As index_first, with the stream headers and the blocks sorted by the part of the picture
    // they cover: first what covers squares of more than 512 pixels (the coarse levels, which
    // an overview reads whole), larger squares first, then in Z order; then the smaller squares
    // as a walk of the picture's quadtree that takes a square before the squares within it, so
    // that every level over one part of the picture lies together; the blocks of every subband
    // and plane over one square side by side. The blocks one window needs lie in a few runs,
    // and an overview reads the start of the file. A whole-image read at full size jumps about
    // the file between the bands of the picture; the decoder's file window keeps the pieces of
    // a band it reads, so that costs no more than index_first locally.
    by_place,
};

struct LayoutOptions {
    LayoutOrder order = LayoutOrder::natural;
    // Bytes of filler (0x5A) put before every structure after the pointer table, to prove that
    // nothing is found by position.
    uint32_t gap = 0;
};

template <typename Tile>
struct DirectoryOf {
    uint8_t dither_column = 0;  // the reader takes both modulo 128
    uint8_t dither_row = 0;
    std::vector<Tile> tiles;  // T = tiles.size(); T = 0 is valid
};

template <typename Tile>
struct FileOf {
    int32_t planes = 1;  // 1 grey, 3 colour (the writer accepts 1..255)
    int32_t levels = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::array<uint8_t, 3> reserved{};        // the three bytes after the magic
    std::vector<DirectoryOf<Tile>> subbands;  // exactly 3L + 1, by subband number
    LayoutOptions layout;
};

using DirectoryInput = DirectoryOf<TileInput>;
using FileInput = FileOf<TileInput>;
using EncodedDirectory = DirectoryOf<EncodedTile>;
using EncodedFile = FileOf<EncodedTile>;

// Largest file the format's signed 32-bit offsets can address.
constexpr uint64_t kMaxFileSize = 0x7FFFFFFF;

// --- Symbols and codes -------------------------------------------------------------------

// Which symbols a coder may use (all, for a code built from the frequencies).
struct SymbolSet {
    std::array<bool, 256> available{};
    static SymbolSet all();
    static SymbolSet of(const CodeTable& table);
};

// Appends the symbols of a block of coefficients (raster order) to symbols; the symbols cover
// every coefficient, trailing zeros included. False when some value or run cannot be expressed
// with the available symbols.
bool symbolise_block(const int32_t* values, std::size_t count, const SymbolSet& set,
                     std::vector<BlockSymbol>* symbols);

// Code lengths (0 = unused) of an optimal prefix code for the frequencies, no length above
// max_length (1..16). A single used symbol gets length 1; no used symbol gives all zeros.
std::array<uint8_t, 256> code_lengths(const std::array<uint64_t, 256>& frequencies,
                                      int max_length = 16);
// The canonical table for given lengths (symbols sorted by length, then by value).
CodeTable table_from_lengths(const std::array<uint8_t, 256>& lengths);
// Canonical codes of a table: per symbol its code and length (length 0 = absent). False if
// the table is not a usable prefix code (no symbol, more than 256, a repeated symbol, or
// lengths that overflow the code space).
struct CodeWord {
    uint16_t code = 0;
    uint8_t length = 0;
};
bool canonical_codes(const CodeTable& table, std::array<CodeWord, 256>* codes,
                     std::string* error = nullptr);

// Block data (FF A3, the code bits, stuffing and padding) of a symbol sequence.
bool code_block(const std::vector<BlockSymbol>& symbols, const std::array<CodeWord, 256>& codes,
                std::vector<uint8_t>* out, std::string* error = nullptr);

// The number of blocks of a tile: ceil(TW / BW) x ceil(TH / BH).
int64_t block_count(int32_t tile_width, int32_t tile_height, int32_t block_width,
                    int32_t block_height);

// --- Streams and files ------------------------------------------------------------------

// Codes one tile stream of a tile of tile_width x tile_height coefficients.
bool encode_stream(const StreamInput& input, int32_t tile_width, int32_t tile_height,
                   EncodedStream* out, std::string* error = nullptr);

// The size in bytes of the file write_kavel would write (the layout's gaps included).
uint64_t encoded_file_size(const EncodedFile& file);

// Writes a complete file into *out (replacing its content). On failure returns false, sets
// *error (if given) and leaves *out in an unspecified state.
bool write_kavel(const FileInput& file, std::vector<uint8_t>* out, std::string* error = nullptr);
bool write_kavel(const EncodedFile& file, std::vector<uint8_t>* out, std::string* error = nullptr);

// Writes a complete file to path atomically: into a temporary file in the same directory,
// renamed into place when complete. On failure nothing is left at path (an existing file there
// is untouched) and no temporary file remains.
bool write_kavel_file(const FileInput& file, const std::string& path, std::string* error = nullptr);
bool write_kavel_file(const EncodedFile& file, const std::string& path,
                      std::string* error = nullptr);

// Writes bytes to path atomically (temporary file + rename), as above.
bool write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           std::string* error = nullptr);

}  // namespace kavel
