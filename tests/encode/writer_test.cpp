// The writer on its own: geometry, codes, block bits and the file layout, checked against the
// byte layout without the reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>

#include "encode/band_geometry.h"
#include "encode/kavel_writer.h"

namespace kavel {
namespace {

int32_t be32(const std::vector<uint8_t>& b, std::size_t at) {
    return static_cast<int32_t>(uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 |
                                uint32_t(b.at(at + 2)) << 8 | uint32_t(b.at(at + 3)));
}

TEST(BandGeometry, SizesAndNumbersOfAnOddImage) {
    // 101 x 75, two levels.
    const std::vector<BandSize> sizes = subband_sizes(101, 75, 2);
    const std::vector<BandSize> expected = {{26, 19}, {25, 19}, {26, 19}, {25, 19},
                                            {50, 38}, {51, 37}, {50, 37}};
    EXPECT_EQ(sizes, expected);
    EXPECT_EQ(band_size_at_scale(101, 75, 1), (BandSize{51, 38}));
    EXPECT_EQ(subband_position(0, 2), (SubbandPosition{2, 0}));
    EXPECT_EQ(subband_position(1, 2), (SubbandPosition{2, 2}));
    EXPECT_EQ(subband_position(2, 2), (SubbandPosition{2, 1}));
    EXPECT_EQ(subband_position(6, 2), (SubbandPosition{1, 3}));
    EXPECT_EQ(subband_position(7, 2), (SubbandPosition{-1, -1}));
    for (int32_t levels = 0; levels < 6; ++levels)
        for (int32_t k = 0; k < subband_count(levels); ++k) {
            const SubbandPosition p = subband_position(k, levels);
            EXPECT_EQ(subband_number(p.level, p.child, levels), k);
        }
}

TEST(BandGeometry, OnePixelWideImageHasEmptyBands) {
    const std::vector<BandSize> sizes = subband_sizes(1, 5, 2);
    EXPECT_EQ(sizes[0], (BandSize{1, 2}));
    EXPECT_EQ(sizes[1], (BandSize{0, 2}));  // horizontally high: no columns
    EXPECT_EQ(sizes[2], (BandSize{1, 1}));
    EXPECT_EQ(sizes[4], (BandSize{0, 3}));
    EXPECT_EQ(sizes[5], (BandSize{1, 2}));
    EXPECT_EQ(subband_sizes(7, 7, 0), (std::vector<BandSize>{{7, 7}}));
}

TEST(BandGeometry, GainsAreTheReadersSinglePrecisionProducts) {
    EXPECT_EQ(subband_gain(0, 0), 1.0f);
    EXPECT_FLOAT_EQ(subband_gain(1, 0), 1.3215892f);
    EXPECT_FLOAT_EQ(subband_gain(1, 3), 0.7566647f);
    const float low = std::bit_cast<float>(uint32_t{0x3F932639});
    const float high = std::bit_cast<float>(uint32_t{0x3F5EAF75});
    const float ll = static_cast<float>(double(1.0f) * low * low);
    EXPECT_EQ(subband_gain(2, 1), static_cast<float>(double(ll) * high * low));  // level 2 child 2
    EXPECT_EQ(subband_gain(2, 2), static_cast<float>(double(ll) * low * high));  // level 2 child 1
}

TEST(BlockCoding, WorkedExampleGivesTheExpectedBytes) {
    // Counts c[2] = 2, c[3] = 2; symbols 180 (0), 181 (+1), 101 (8-bit +), 5 (five zeros):
    // 1, 3, 0 x 6 codes as 01 100 00000011 101 00 and six padding 1-bits.
    CodeTable table;
    table.counts[1] = 2;
    table.counts[2] = 2;
    table.symbols = {180, 181, 101, 5};
    StreamInput input;
    input.block_width = 8;
    input.block_height = 1;
    input.coefficients = {1, 3, 0, 0, 0, 0, 0, 0};
    input.code_table = table;
    EncodedStream stream;
    std::string error;
    ASSERT_TRUE(encode_stream(input, 8, 1, &stream, &error)) << error;
    EXPECT_EQ(stream.data, (std::vector<uint8_t>{0xFF, 0xA3, 0x60, 0x1D, 0x3F}));
    EXPECT_EQ(stream.block_start, (std::vector<uint64_t>{0, 5}));
}

TEST(BlockCoding, StuffsAZeroAfterEveryFFByteIncludingPadding) {
    std::array<CodeWord, 256> codes{};
    codes[181] = {0xFF, 8};  // an 8-bit code of all ones
    codes[1] = {0x1, 1};
    std::vector<uint8_t> out;
    ASSERT_TRUE(code_block({{181, 0}, {181, 0}}, codes, &out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xA3, 0xFF, 0x00, 0xFF, 0x00}));
    out.clear();
    ASSERT_TRUE(code_block({{1, 0}}, codes, &out));  // 1 + seven padding ones = 0xFF
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xA3, 0xFF, 0x00}));
    out.clear();
    codes[101] = {0, 1};
    EXPECT_FALSE(code_block({{101, 256}}, codes, &out));  // 8-bit magnitude overflows
    out.clear();
    EXPECT_FALSE(code_block({{77, 0}}, codes, &out));  // no code for the symbol
}

TEST(Symbols, ValuesAndRunsPickTheirSymbols) {
    std::vector<BlockSymbol> symbols;
    const std::vector<int32_t> values = {0, 75, -73, 76, -255, 256, -40000, 40000, 70000, 65536};
    ASSERT_TRUE(symbolise_block(values.data(), values.size(), SymbolSet::all(), &symbols));
    const std::vector<BlockSymbol> expected = {
        {1, 0},     {255, 0},     {107, 0},     {101, 76},   {102, 255},
        {103, 256}, {104, 40000}, {103, 40000}, {103, 4464},  // 70000 keeps its low 16 bits: 4464
        {1, 0},                                               // 65536 reads back as 0
    };
    EXPECT_EQ(symbols, expected);

    std::vector<int32_t> zeros(655, 0);
    symbols.clear();
    ASSERT_TRUE(symbolise_block(zeros.data(), 100, SymbolSet::all(), &symbols));
    ASSERT_TRUE(symbolise_block(zeros.data(), 150, SymbolSet::all(), &symbols));
    ASSERT_TRUE(symbolise_block(zeros.data(), 655, SymbolSet::all(), &symbols));
    EXPECT_EQ(symbols, (std::vector<BlockSymbol>{{100, 0}, {105, 150}, {106, 655}}));

    std::vector<int32_t> many(140000, 0);
    symbols.clear();
    ASSERT_TRUE(symbolise_block(many.data(), many.size(), SymbolSet::all(), &symbols));
    EXPECT_EQ(symbols, (std::vector<BlockSymbol>{{106, 65535}, {106, 65535}, {106, 8930}}));
}

TEST(Symbols, ARestrictedTableFallsBackOrFails) {
    CodeTable table;
    table.counts[1] = 2;
    table.symbols = {180, 104};
    std::vector<BlockSymbol> symbols;
    const std::vector<int32_t> values = {0, 0, -5};
    ASSERT_TRUE(symbolise_block(values.data(), values.size(), SymbolSet::of(table), &symbols));
    EXPECT_EQ(symbols, (std::vector<BlockSymbol>{{180, 0}, {180, 0}, {104, 5}}));
    const std::vector<int32_t> positive = {5};
    EXPECT_FALSE(symbolise_block(positive.data(), 1, SymbolSet::of(table), &symbols));
}

TEST(Codes, LengthsAreLimitedTo16BitsAndFillTheCodeSpace) {
    // Fibonacci frequencies make Huffman's tree as deep as the alphabet.
    std::array<uint64_t, 256> frequencies{};
    uint64_t a = 1, b = 1;
    for (int s = 0; s < 40; ++s) {
        frequencies[std::size_t(s)] = a;
        const uint64_t c = a + b;
        a = b;
        b = c;
    }
    const auto lengths = code_lengths(frequencies);
    double kraft = 0;
    int used = 0;
    for (int s = 0; s < 256; ++s) {
        if (lengths[std::size_t(s)] == 0) continue;
        ++used;
        EXPECT_LE(lengths[std::size_t(s)], 16);
        kraft += std::ldexp(1.0, -lengths[std::size_t(s)]);
    }
    EXPECT_EQ(used, 40);
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    EXPECT_LE(lengths[39], lengths[0]);  // the most frequent is not longer
    std::array<CodeWord, 256> codes;
    EXPECT_TRUE(canonical_codes(table_from_lengths(lengths), &codes));

    std::array<uint64_t, 256> one{};
    one[42] = 7;
    EXPECT_EQ(code_lengths(one)[42], 1);
    std::array<uint64_t, 256> all;
    all.fill(1);
    const auto flat = code_lengths(all);
    // 256 codes of 8 bits would need a count of 256 in a byte: one code is one bit longer.
    EXPECT_EQ(std::count(flat.begin(), flat.end(), 8), 255);
    EXPECT_EQ(std::count(flat.begin(), flat.end(), 9), 1);
}

TEST(Codes, CanonicalCodesRejectUnusableTables) {
    std::array<CodeWord, 256> codes;
    CodeTable duplicate;
    duplicate.counts[1] = 2;
    duplicate.symbols = {7, 7};
    EXPECT_FALSE(canonical_codes(duplicate, &codes));
    CodeTable overflow;
    overflow.counts[0] = 3;
    overflow.symbols = {1, 2, 3};
    EXPECT_FALSE(canonical_codes(overflow, &codes));
    CodeTable miscounted;
    miscounted.counts[2] = 1;
    miscounted.symbols = {1, 2};
    EXPECT_FALSE(canonical_codes(miscounted, &codes));
    std::array<uint64_t, 256> flat;
    flat.fill(1);
    EXPECT_TRUE(canonical_codes(table_from_lengths(code_lengths(flat)), &codes));
    CodeTable deep;  // 255 consecutive 16-bit codes from 0 need 263 tree nodes
    deep.counts[15] = 255;
    for (int s = 0; s < 255; ++s) deep.symbols.push_back(uint8_t(s));
    EXPECT_FALSE(canonical_codes(deep, &codes));  // 255 consecutive 16-bit codes from 0
}

// A small colour file with two tiles in subband 0, an empty directory, a missing plane.
FileInput sample_file(LayoutOrder order, uint32_t gap) {
    FileInput file;
    file.planes = 3;
    file.levels = 1;
    file.width = 9;
    file.height = 6;
    file.reserved = {1, 2, 3};
    file.layout = {order, gap};
    file.subbands.resize(4);
    const auto sizes = subband_sizes(9, 6, 1);
    for (int k = 0; k < 4; ++k) {
        DirectoryInput& dir = file.subbands[std::size_t(k)];
        dir.dither_column = uint8_t(10 + k);
        dir.dither_row = uint8_t(200 + k);
        if (k == 2) continue;  // T = 0
        const BandSize size = sizes[std::size_t(k)];
        TileInput tile{0, 0, size.width - 1, size.height - 1, {}};
        for (int p = 0; p < 3; ++p) {
            if (p == 1 && k == 3) {
                tile.planes.emplace_back();
                continue;
            }
            StreamInput stream;
            stream.step = 0.5f * float(p + 1);
            stream.block_width = 2;
            stream.block_height = 2;
            stream.coefficients.resize(std::size_t(size.width * size.height));
            std::iota(stream.coefficients.begin(), stream.coefficients.end(), -4 * k);
            tile.planes.push_back(stream);
        }
        dir.tiles.push_back(tile);
        if (k == 0) {  // a second, overlapping tile
            TileInput extra = tile;
            extra.x0 = 1;
            extra.x1 = 1;
            extra.y1 = 0;
            for (auto& stream : extra.planes) stream->coefficients = {99};
            dir.tiles.push_back(extra);
        }
    }
    return file;
}

// Follows every offset of a file and checks the markers it lands on.
void check_structure(const std::vector<uint8_t>& bytes, const FileInput& file) {
    ASSERT_GE(bytes.size(), 23u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "kvel");
    EXPECT_EQ(bytes[4], file.reserved[0]);
    EXPECT_EQ(bytes[6], file.reserved[2]);
    EXPECT_EQ(be32(bytes, 7), file.planes);
    EXPECT_EQ(be32(bytes, 11), file.levels);
    EXPECT_EQ(be32(bytes, 15), file.width);
    EXPECT_EQ(be32(bytes, 19), file.height);
    for (int k = 0; k < subband_count(file.levels); ++k) {
        const std::size_t dir = std::size_t(be32(bytes, 23 + 4 * std::size_t(k)));
        ASSERT_LT(dir + 8, bytes.size());
        EXPECT_EQ(bytes[dir], 0xFF);
        EXPECT_EQ(bytes[dir + 1], 0xAC);
        EXPECT_EQ(bytes[dir + 2], file.subbands[std::size_t(k)].dither_column);
        EXPECT_EQ(bytes[dir + 3], file.subbands[std::size_t(k)].dither_row);
        const int32_t tiles = be32(bytes, dir + 4);
        ASSERT_EQ(std::size_t(tiles), file.subbands[std::size_t(k)].tiles.size());
        for (int32_t t = 0; t < tiles; ++t) {
            const std::size_t record = dir + 8 + std::size_t(t) * (4 * 3 + 16);
            const TileInput& tile = file.subbands[std::size_t(k)].tiles[std::size_t(t)];
            EXPECT_EQ(be32(bytes, record + 12), tile.x0);
            EXPECT_EQ(be32(bytes, record + 16), tile.y0);
            EXPECT_EQ(be32(bytes, record + 20), tile.x1);
            EXPECT_EQ(be32(bytes, record + 24), tile.y1);
            for (int p = 0; p < 3; ++p) {
                const std::size_t stream = std::size_t(be32(bytes, record + 4 * std::size_t(p)));
                if (!tile.planes[std::size_t(p)]) {
                    EXPECT_EQ(stream, 0u);
                    continue;
                }
                ASSERT_LT(stream + 18, bytes.size());
                EXPECT_EQ(bytes[stream], 0xFF);
                EXPECT_EQ(bytes[stream + 1], 0xAA);
                std::size_t n = 0;
                for (int i = 0; i < 16; ++i) n += bytes[stream + 2 + std::size_t(i)];
                const std::size_t after = stream + 18 + n;
                EXPECT_EQ(std::bit_cast<float>(uint32_t(be32(bytes, after))),
                          tile.planes[std::size_t(p)]->step);
                EXPECT_EQ(be32(bytes, after + 4), 2);
                EXPECT_EQ(be32(bytes, after + 8), 2);
                const int64_t blocks =
                    block_count(tile.x1 - tile.x0 + 1, tile.y1 - tile.y0 + 1, 2, 2);
                for (int64_t b = 0; b < blocks; ++b) {
                    const std::size_t block =
                        std::size_t(be32(bytes, after + 12 + 4 * std::size_t(b)));
                    ASSERT_LT(block + 2, bytes.size());
                    EXPECT_EQ(bytes[block], 0xFF);
                    EXPECT_EQ(bytes[block + 1], 0xA3);
                }
            }
        }
    }
}

TEST(Layout, EveryOrderLeadsEveryOffsetToItsMarker) {
    std::map<LayoutOrder, std::vector<uint8_t>> files;
    for (LayoutOrder order :
         {LayoutOrder::natural, LayoutOrder::directories_last, LayoutOrder::reversed,
          LayoutOrder::index_first, LayoutOrder::by_place}) {
        for (uint32_t gap : {0u, 5u}) {
            SCOPED_TRACE(int(order) * 10 + int(gap));
            const FileInput file = sample_file(order, gap);
            std::vector<uint8_t> bytes;
            std::string error;
            ASSERT_TRUE(write_kavel(file, &bytes, &error)) << error;
            check_structure(bytes, file);
            if (gap == 0) files[order] = bytes;
        }
    }
    // Same structures, different places.
    EXPECT_EQ(files[LayoutOrder::natural].size(), files[LayoutOrder::reversed].size());
    EXPECT_NE(files[LayoutOrder::natural], files[LayoutOrder::reversed]);
    EXPECT_NE(files[LayoutOrder::natural], files[LayoutOrder::directories_last]);
    EXPECT_EQ(files[LayoutOrder::natural].size(), files[LayoutOrder::index_first].size());
    // With the index first, every directory and stream header lies before the first block
    // that holds data (the shared empty block may come first).
    const auto& indexed = files[LayoutOrder::index_first];
    const FileInput file = sample_file(LayoutOrder::index_first, 0);
    std::size_t index_end = 0, first_block = indexed.size();
    for (std::size_t k = 0; k < file.subbands.size(); ++k) {
        const std::size_t dir = std::size_t(be32(indexed, 23 + 4 * k));
        const std::size_t tiles = std::size_t(be32(indexed, dir + 4));
        const std::size_t record = 4 * std::size_t(file.planes) + 16;
        index_end = std::max(index_end, dir + 8 + tiles * record);
        for (std::size_t t = 0; t < tiles; ++t)
            for (std::size_t p = 0; p < std::size_t(file.planes); ++p) {
                const std::size_t header = std::size_t(be32(indexed, dir + 8 + t * record + 4 * p));
                if (header == 0) continue;
                std::size_t symbols = 0;
                for (int i = 0; i < 16; ++i) symbols += indexed[header + 2 + std::size_t(i)];
                const std::size_t offsets = header + 30 + symbols;
                const TileInput& tile = file.subbands[k].tiles[t];
                const StreamInput& stream = *tile.planes[p];
                const int64_t blocks = block_count(tile.x1 - tile.x0 + 1, tile.y1 - tile.y0 + 1,
                                                   stream.block_width, stream.block_height);
                index_end = std::max(index_end, offsets + 4 * std::size_t(blocks));
                for (int64_t b = 0; b < blocks; ++b) {
                    const std::size_t block = std::size_t(be32(indexed, offsets + 4 * std::size_t(b)));
                    const bool empty = block + 4 <= indexed.size() && indexed[block + 2] == 0xFF &&
                                       indexed[block + 3] == 0xFF;  // FF A3 FF FF
                    if (!empty) first_block = std::min(first_block, block);
                }
            }
    }
    EXPECT_LE(index_end, first_block);
    EXPECT_LT(first_block, indexed.size());
    // The reversed file ends with the directory of subband 0.
    const auto& reversed = files[LayoutOrder::reversed];
    const int32_t dir0 = be32(reversed, 23);
    EXPECT_EQ(std::size_t(dir0) + 8 + 2 * 28, reversed.size());
}

TEST(Layout, AllZeroBlocksShareOneEmptyBlock) {
    FileInput file;
    file.width = 8;
    file.height = 8;
    file.subbands.resize(1);
    StreamInput stream;
    stream.block_width = 4;
    stream.block_height = 4;
    stream.coefficients.assign(64, 0);
    stream.coefficients[63] = 3;
    file.subbands[0].tiles.push_back({0, 0, 7, 7, {stream}});
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(write_kavel(file, &bytes));
    const std::size_t dir = std::size_t(be32(bytes, 23));
    const std::size_t header = std::size_t(be32(bytes, dir + 8));
    const std::size_t n = 1;  // only symbols used: a value and runs
    (void)n;
    std::size_t count = 0;
    for (int i = 0; i < 16; ++i) count += bytes[header + 2 + std::size_t(i)];
    const std::size_t offsets = header + 18 + count + 12;
    const int32_t b0 = be32(bytes, offsets), b1 = be32(bytes, offsets + 4),
                  b2 = be32(bytes, offsets + 8), b3 = be32(bytes, offsets + 12);
    EXPECT_EQ(b0, b1);
    EXPECT_EQ(b0, b2);
    EXPECT_NE(b0, b3);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + b0, bytes.begin() + b0 + 4),
              (std::vector<uint8_t>{0xFF, 0xA3, 0xFF, 0xFF}));
}

TEST(Layout, RejectsWhatTheFormatCannotHold) {
    std::string error;
    std::vector<uint8_t> bytes;
    FileInput file = sample_file(LayoutOrder::natural, 0);
    file.subbands.pop_back();
    EXPECT_FALSE(write_kavel(file, &bytes, &error));
    EXPECT_NE(error.find("tile directories"), std::string::npos);

    file = sample_file(LayoutOrder::natural, 0);
    file.subbands[0].tiles[0].planes[0]->coefficients.pop_back();
    EXPECT_FALSE(write_kavel(file, &bytes, &error));

    file = sample_file(LayoutOrder::natural, 0);
    file.subbands[0].tiles[0].planes.pop_back();
    EXPECT_FALSE(write_kavel(file, &bytes, &error));

    file = sample_file(LayoutOrder::natural, 0);
    file.subbands[0].tiles[0].planes[0]->block_width = 0;
    EXPECT_FALSE(write_kavel(file, &bytes, &error));

    file = sample_file(LayoutOrder::natural, 0);
    file.subbands[1].tiles[0].x1 = 70000;
    EXPECT_FALSE(write_kavel(file, &bytes, &error));

    file = sample_file(LayoutOrder::natural, 0);
    file.levels = 32;
    EXPECT_FALSE(write_kavel(file, &bytes, &error));
}

TEST(FileWriting, WritesAtomicallyAndLeavesNothingOnFailure) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("kavel_writer_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "out.kvl").string();
    const FileInput file = sample_file(LayoutOrder::natural, 0);
    std::string error;
    ASSERT_TRUE(write_kavel_file(file, path, &error)) << error;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(write_kavel(file, &expected));
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> read((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(read, expected);

    // A failing write leaves the old file and no temporary beside it.
    FileInput bad = file;
    bad.subbands.pop_back();
    EXPECT_FALSE(write_kavel_file(bad, path, &error));
    EXPECT_EQ(std::filesystem::file_size(path), expected.size());
    EXPECT_FALSE(write_kavel_file(file, (dir / "missing" / "x.kvl").string(), &error));
    EXPECT_FALSE(error.empty());
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++entries;
    EXPECT_EQ(entries, 1);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

TEST(Layout, BlocksByPlaceFollowTheZOrderOfThePicture) {
    // 16 x 16 colour, one level: four 8 x 8 subbands, each one tile of 2 x 2 blocks of 4 x 4,
    // so that every block covers an 8 x 8 square of the picture. By place, the blocks of every
    // subband and plane over one square lie together, the squares in Z order.
    FileInput file;
    file.planes = 3;
    file.levels = 1;
    file.width = 16;
    file.height = 16;
    file.layout.order = LayoutOrder::by_place;
    file.subbands.resize(4);
    for (auto& dir : file.subbands) {
        TileInput tile{0, 0, 7, 7, {}};
        for (int p = 0; p < 3; ++p) {
            StreamInput stream;
            stream.block_width = 4;
            stream.block_height = 4;
            stream.coefficients.assign(64, 5 + p);
            tile.planes.push_back(stream);
        }
        dir.tiles.push_back(tile);
    }
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(write_kavel(file, &bytes, &error)) << error;
    std::vector<std::pair<int32_t, int>> blocks;  // offset, square (= block number here)
    for (std::size_t k = 0; k < 4; ++k) {
        const std::size_t dir = std::size_t(be32(bytes, 23 + 4 * k));
        for (std::size_t p = 0; p < 3; ++p) {
            const std::size_t header = std::size_t(be32(bytes, dir + 8 + 4 * p));
            std::size_t symbols = 0;
            for (int i = 0; i < 16; ++i) symbols += bytes[header + 2 + std::size_t(i)];
            for (int b = 0; b < 4; ++b)
                blocks.push_back({be32(bytes, header + 30 + symbols + 4 * std::size_t(b)), b});
        }
    }
    std::sort(blocks.begin(), blocks.end());
    for (std::size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i].second, int(i / 12)) << i;
    // Every header lies before every block, as with the index first.
    EXPECT_LT(std::size_t(be32(bytes, 23 + 12)), std::size_t(blocks.front().first));
}

}  // namespace
}  // namespace kavel
