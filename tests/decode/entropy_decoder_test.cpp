#include "decode/entropy_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <vector>

#include "decode/code_tree.h"
#include "tests/decode/block_stream.h"

namespace {

struct Table {
    std::array<uint8_t, 16> counts{};
    std::array<uint8_t, 256> symbols{};
    CodeTable view() { return CodeTable{counts.data(), symbols.data()}; }
};

// A code table from its counts by length (lengths 1, 2, ...) and its symbols.
Table make_table(std::initializer_list<uint8_t> counts, std::initializer_list<uint8_t> symbols) {
    Table t;
    std::copy(counts.begin(), counts.end(), t.counts.begin());
    std::copy(symbols.begin(), symbols.end(), t.symbols.begin());
    return t;
}

// c[2] = 2, c[3] = 2, symbols 180, 181, 101, 5: 00 = value 0, 01 = +1, 100 = +8-bit
// magnitude, 101 = run of five zeros.
Table example_table() { return make_table({0, 2, 2}, {180, 181, 101, 5}); }

// Decodes data for block B with window I; returns the result and fills out.
int decode(const std::vector<uint8_t>& data, Table table, RegionRect block, RegionRect wanted,
           std::vector<int16_t>* out, long* position = nullptr) {
    BlockStream stream(data);
    out->assign(static_cast<size_t>((wanted.x1 - wanted.x0 + 1) * (wanted.y1 - wanted.y0 + 1)), 0);
    const int result = decode_block(stream.get(), out->data(), table.view(), block, wanted);
    if (position != nullptr) *position = stream.position();
    return result;
}

const std::vector<uint8_t> kExample = {0xFF, 0xA3, 0x60, 0x1D, 0x3F};

TEST(DecodeBlock, WorkedExample) {
    std::vector<int16_t> out;
    ASSERT_EQ(decode(kExample, example_table(), {0, 7, 0, 0}, {0, 7, 0, 0}, &out), 0);
    EXPECT_EQ(out, (std::vector<int16_t>{1, 3, 0, 0, 0, 0, 0, 0}));
}

TEST(DecodeBlock, PartialWindowStoresOnlyWhatItCovers) {
    std::vector<int16_t> out;
    ASSERT_EQ(decode(kExample, example_table(), {0, 7, 0, 0}, {1, 1, 0, 0}, &out), 0);
    EXPECT_EQ(out, std::vector<int16_t>{3});
    ASSERT_EQ(decode(kExample, example_table(), {10, 17, 4, 4}, {10, 11, 4, 4}, &out), 0);
    EXPECT_EQ(out, (std::vector<int16_t>{1, 3}));
}

TEST(DecodeBlock, LeadingMarkerMeansNoCoefficients) {
    std::vector<int16_t> out;
    long position = 0;
    ASSERT_EQ(decode({0xFF, 0xA3, 0xFF, 0xD9, 0x12}, example_table(), {0, 3, 0, 0}, {0, 3, 0, 0},
                     &out, &position),
              0);
    EXPECT_EQ(out, std::vector<int16_t>(4, 0));
    EXPECT_EQ(position, 2);  // back on the marker's 0xFF
}

// 0xFF 0x00 in the data is one data byte 0xFF, on the code path and on the magnitude path.
TEST(DecodeBlock, StuffedFFIsOneDataByte) {
    Table bits;  // 0 = value 0, 1 = value +1
    bits.counts[0] = 2;
    bits.symbols[0] = 180;
    bits.symbols[1] = 181;
    std::vector<int16_t> out;
    ASSERT_EQ(decode({0xFF, 0xA3, 0xFF, 0x00, 0x0F}, bits, {0, 15, 0, 0}, {0, 15, 0, 0}, &out), 0);
    EXPECT_EQ(out, (std::vector<int16_t>{1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1}));

    Table magnitudes;  // 0 = 16-bit positive magnitude follows, 1 = value +1
    magnitudes.counts[0] = 2;
    magnitudes.symbols[0] = 103;
    magnitudes.symbols[1] = 181;
    // 0 | 0000000 11111111 1 | 1 | padding: 00000000 11111111 (00) 11111111 (00)
    ASSERT_EQ(decode({0xFF, 0xA3, 0x00, 0xFF, 0x00, 0xFF, 0x00}, magnitudes, {0, 1, 0, 0},
                     {0, 1, 0, 0}, &out),
              0);
    EXPECT_EQ(out, (std::vector<int16_t>{511, 1}));
}

TEST(DecodeBlock, SixteenBitMagnitudeWraps) {
    const Table t = make_table({1}, {103});
    // Code 0, then 40000 = 0x9C40 in 16 bits: 0 1001110001000000 + padding 1s.
    // 01001110 | 00100000 | 01111111
    std::vector<int16_t> out;
    ASSERT_EQ(decode({0xFF, 0xA3, 0x4E, 0x20, 0x7F}, t, {0, 0, 0, 0}, {0, 0, 0, 0}, &out), 0);
    EXPECT_EQ(out[0], -25536);
}

TEST(DecodeBlock, SingleCodeOfLengthOne) {
    const Table t = make_table({1}, {185});  // value +5
    std::vector<int16_t> out;
    ASSERT_EQ(decode({0xFF, 0xA3, 0x3F}, t, {0, 1, 0, 0}, {0, 1, 0, 0}, &out), 0);
    EXPECT_EQ(out, (std::vector<int16_t>{5, 5}));
    // A 1-bit leads to an empty slot.
    EXPECT_EQ(decode({0xFF, 0xA3, 0x80}, t, {0, 1, 0, 0}, {0, 1, 0, 0}, &out), 1);
}

TEST(DecodeBlock, RunsAcrossRowsPlaceTheNextValueInItsRow) {
    // 4 x 3 block, window columns 1..2 of rows 0..2. Symbols: +1 (pos 0, skipped),
    // run 5 (pos 1..5), +1 at pos 6 = row 1 column 2, +1 at pos 7, run 5 (8..12).
    // Bits: 01 101 01 01 101 + padding = 01101010 | 1101 1111 -> 0x6A 0xDF
    std::vector<int16_t> out;
    ASSERT_EQ(decode({0xFF, 0xA3, 0x6A, 0xDF}, example_table(), {0, 3, 0, 2}, {1, 2, 0, 2}, &out),
              0);
    EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 0, 1, 0, 0}));
}

TEST(DecodeBlock, RunPastTheWindowRowSkipsToTheNextWindowRow) {
    // 00 = +1, 01 = run 6, 10 = run 3, 11 = run 100. 8 x 4 block, window columns 1..4 of
    // rows 0..3. Run 6 (pos 0..5) passes window row 0 (pos 1..4) but stops before window
    // row 1 (pos 9..12): +1 at pos 6 lies outside the window, run 3 (7..9), +1 at pos 10 =
    // row 1 column 2, run 100 ends the block.
    // Bits: 01 00 10 00 11 + padding -> 0x48 0xC0
    const Table t = make_table({0, 4}, {181, 6, 3, 100});
    std::vector<int16_t> out;
    ASSERT_EQ(decode({0xFF, 0xA3, 0x48, 0xC0}, t, {0, 7, 0, 3}, {1, 4, 0, 3}, &out), 0);
    std::vector<int16_t> expected(16, 0);
    expected[5] = 1;
    EXPECT_EQ(out, expected);
}

TEST(DecodeBlock, SymbolZeroChangesNothing) {
    const Table t = make_table({0, 2}, {0, 182});  // 00: nothing, 01: +2
    // 00 01 00 01 + padding -> 00010001 -> 0x11
    std::vector<int16_t> out;
    ASSERT_EQ(decode({0xFF, 0xA3, 0x11}, t, {0, 1, 0, 0}, {0, 1, 0, 0}, &out), 0);
    EXPECT_EQ(out, (std::vector<int16_t>{2, 2}));
}

TEST(DecodeBlock, MarkerOnTheMagnitudePathIsReadAgain) {
    // 100 then the magnitude: 8 bits taken from 0xFF bytes. Bits 100 11111 | FF(marker D0)
    // The first byte 0x9F: 100 11111; the next byte is 0xFF followed by 0xD0 (a marker): the
    // magnitude path steps back, so the bits continue with 1s: magnitude 11111111 = 255.
    std::vector<int16_t> out;
    ASSERT_EQ(
        decode({0xFF, 0xA3, 0x9F, 0xFF, 0xD0}, example_table(), {0, 0, 0, 0}, {0, 0, 0, 0}, &out),
        0);
    EXPECT_EQ(out[0], 255);
}

TEST(DecodeBlock, BadHeadersAndTruncationFail) {
    std::vector<int16_t> out;
    EXPECT_EQ(decode({0xFF, 0xA2, 0x60}, example_table(), {0, 7, 0, 0}, {0, 7, 0, 0}, &out), 1);
    EXPECT_EQ(decode({0xFF, 0xA3}, example_table(), {0, 7, 0, 0}, {0, 7, 0, 0}, &out), 1);
    EXPECT_EQ(decode({0xFF, 0xA3, 0xFF}, example_table(), {0, 7, 0, 0}, {0, 7, 0, 0}, &out), 1);
    // The example cut after its first data byte: later bits would come from beyond the file.
    EXPECT_EQ(decode({0xFF, 0xA3, 0x60}, example_table(), {0, 7, 0, 0}, {0, 7, 0, 0}, &out), 1);
}

// A code whose all-ones path is symbol 0 would read 0xFF from the end of the file forever.
TEST(DecodeBlock, EndOfFileEndsEveryDecode) {
    const Table t = make_table({2}, {181, 0});
    std::vector<int16_t> out;
    EXPECT_EQ(decode({0xFF, 0xA3, 0x7F}, t, {0, 1000, 0, 1000}, {900, 1000, 900, 1000}, &out), 1);
    // The same data needs only its own bits for the first coefficient.
    EXPECT_EQ(decode({0xFF, 0xA3, 0x7F}, t, {0, 0, 0, 0}, {0, 0, 0, 0}, &out), 0);
    EXPECT_EQ(out[0], 1);
}

TEST(CodeTree, RejectsTablesNoValidFileHolds) {
    CodeTree tree;
    Table none;
    EXPECT_EQ(build_code_tree(none.view(), &tree), 1);
    Table overfull;
    overfull.counts[0] = 3;  // three codes of one bit
    EXPECT_EQ(build_code_tree(overfull.view(), &tree), 1);
    Table too_many;
    too_many.counts[7] = 255;
    too_many.counts[8] = 2;  // 257 symbols
    EXPECT_EQ(build_code_tree(too_many.view(), &tree), 1);
    Table deep;
    deep.counts[15] = 255;  // 255 codes of 16 bits need more than 256 nodes
    EXPECT_EQ(build_code_tree(deep.view(), &tree), 1);
    EXPECT_EQ(build_code_tree(example_table().view(), &tree), 0);
    EXPECT_EQ(tree.slots[0][0], 1);
    EXPECT_EQ(tree.slots[1][0], 2);
}

}  // namespace
