// Tile tables and block windows: a tile directory is held in one pool block and can keep only
// the records a decode needs; a stream header can lay out and read only the blocks that meet a
// needed rectangle, with the same blocks (and offsets) as the whole grid.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "decode/decode_driver.h"
#include "format/pool.h"
#include "tests/decode/block_stream.h"

namespace {

void put_be32(std::vector<uint8_t>* bytes, int64_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) bytes->push_back(static_cast<uint8_t>(v >> shift));
}

struct Record {
    int32_t offsets[3];
    int32_t x0, y0, x1, y1;
};

// A tile directory of three planes at offset 0 (so that it is read with read_tile_directory_at).
std::vector<uint8_t> directory_bytes(const std::vector<Record>& records) {
    std::vector<uint8_t> bytes = {0xFF, 0xAC, 5, 9};
    put_be32(&bytes, static_cast<int64_t>(records.size()));
    for (const Record& r : records) {
        for (int32_t offset : r.offsets) put_be32(&bytes, offset);
        for (int32_t v : {r.x0, r.y0, r.x1, r.y1}) put_be32(&bytes, v);
    }
    return bytes;
}

TEST(TileTable, OneBlockHoldsEveryRecordInDirectoryOrder) {
    std::vector<Record> records;
    for (int32_t i = 0; i < 300; ++i) records.push_back({{i, 1000 + i, 0}, i, -i, i + 9, 7});
    BlockStream file(directory_bytes(records));
    TileEntry* tiles = nullptr;
    int32_t count = 0;
    DitherOrigin dither{};
    ASSERT_EQ(read_tile_directory_at(file.get(), 0, 3, nullptr, 0, &tiles, &count, &dither), 0);
    ASSERT_EQ(count, 300);
    EXPECT_EQ(pool_block_count(), 1u);  // not one block per record
    EXPECT_EQ(dither.column, 5);
    EXPECT_EQ(dither.row, 9);
    for (int32_t i = 0; i < count; ++i) {
        EXPECT_EQ(tiles[i].offsets[0], i);
        EXPECT_EQ(tiles[i].offsets[1], 1000 + i);
        EXPECT_EQ(tiles[i].offsets[2], 0);
        // Held as x0, x1, y0, y1.
        EXPECT_EQ(tiles[i].x0, i);
        EXPECT_EQ(tiles[i].x1, i + 9);
        EXPECT_EQ(tiles[i].y0, -i);
        EXPECT_EQ(tiles[i].y1, 7);
    }
    release_tile_table(tiles);
    EXPECT_EQ(pool_block_count(), 0u);
}

TEST(TileTable, KeepsOnlyRecordsThatMeetAWantedRectangle) {
    std::vector<Record> records;
    for (int32_t i = 0; i < 1000; ++i) {
        records.push_back({{100 + i, 0, 0}, 10 * i, 0, 10 * i + 9, 9});  // a row of tiles
    }
    const RegionRect wanted[2] = {{25, 34, 0, 0}, {9990, 20000, 9, 30}};
    BlockStream file(directory_bytes(records));
    TileEntry* tiles = nullptr;
    int32_t count = 0;
    DitherOrigin dither{};
    ASSERT_EQ(read_tile_directory_at(file.get(), 0, 3, wanted, 2, &tiles, &count, &dither), 0);
    ASSERT_EQ(count, 3);  // tiles 2 and 3 meet the first rectangle, tile 999 the second
    EXPECT_EQ(tiles[0].offsets[0], 102);
    EXPECT_EQ(tiles[1].offsets[0], 103);
    EXPECT_EQ(tiles[2].offsets[0], 1099);
    EXPECT_EQ(tiles[2].x1, 9999);
    EXPECT_EQ(pool_block_count(), 1u);
    release_tile_table(tiles);

    // Nothing kept: no table at all.
    const RegionRect far{-50, -40, 0, 9};
    ASSERT_EQ(read_tile_directory_at(file.get(), 0, 3, &far, 1, &tiles, &count, &dither), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(tiles, nullptr);

    // Every record is still read: a directory cut short fails even where the missing records
    // would not be kept, and gives back what it took.
    std::vector<uint8_t> cut = directory_bytes(records);
    cut.resize(cut.size() - 30);
    BlockStream short_file(cut);
    EXPECT_EQ(read_tile_directory_at(short_file.get(), 0, 3, wanted, 1, &tiles, &count, &dither),
              1);
    EXPECT_EQ(pool_block_count(), 0u);
}

// A tile stream at offset 0 (one code, step 1, the given block size) with block offsets
// 0x10000 + index, in a file cut to keep only `kept` of them.
std::vector<uint8_t> stream_bytes(int32_t bw, int32_t bh, int64_t blocks, int64_t kept) {
    std::vector<uint8_t> bytes(18, 0);
    bytes[0] = 0xFF;
    bytes[1] = 0xAA;
    bytes[2] = 1;
    bytes.push_back(0xBE);
    put_be32(&bytes, 0x3F800000);  // 1.0f
    put_be32(&bytes, bw);
    put_be32(&bytes, bh);
    for (int64_t b = 0; b < blocks && b < kept; ++b) put_be32(&bytes, 0x10000 + b);
    return bytes;
}

TEST(BlockWindow, SameBlocksAsTheWholeGridThatMeetTheNeededRectangle) {
    std::minstd_rand random(5);
    int compared = 0, refused = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        const auto pick = [&random](int32_t n) { return static_cast<int32_t>(random() % n); };
        const int32_t tw = pick(40), th = pick(40), bw = 1 + pick(9), bh = 1 + pick(9);
        const int32_t x0 = pick(100) - 50, y0 = pick(100) - 50;
        const int64_t blocks = int64_t{(tw + bw - 1) / bw} * ((th + bh - 1) / bh);
        // Now and then the file ends inside the offset table: both reads must fail.
        const int64_t kept = pick(8) == 0 ? pick(static_cast<int32_t>(blocks) + 1) : blocks;
        // The stream starts at offset 1 (offset 0 means no stream).
        std::vector<uint8_t> bytes(1, 0);
        const std::vector<uint8_t> stream_part = stream_bytes(bw, bh, blocks, kept);
        bytes.insert(bytes.end(), stream_part.begin(), stream_part.end());
        BlockStream stream(bytes);
        int32_t at[1] = {1};
        const TileEntry placed{at, x0, x0 + tw - 1, y0, y0 + th - 1};
        const RegionRect corner{x0 - 5 + pick(tw + 10), 0, y0 - 5 + pick(th + 10), 0};
        const RegionRect wanted{corner.x0, corner.x0 + pick(20), corner.y0, corner.y0 + pick(20)};

        float step = 0;
        CodeTable table{};
        BlockEntry* grid = nullptr;
        int32_t grid_count = 0;
        const StreamHeaderResult whole =
            read_tile_stream_header(stream.get(), &placed, 0, &step, &table, &grid, &grid_count);
        BlockEntry* window = nullptr;
        int32_t window_count = 0;
        CodeTable window_table{};
        const StreamHeaderResult part = read_tile_stream_window(
            stream.get(), &placed, 0, wanted, static_cast<int64_t>(bytes.size()), &step,
            &window_table, &window, &window_count);
        ASSERT_EQ(whole, part) << "trial " << trial;
        if (whole == StreamHeaderResult::failed) ++refused;
        if (whole == StreamHeaderResult::read) {
            std::vector<BlockEntry> expected;
            for (int32_t b = 0; b < grid_count; ++b) {
                const BlockEntry& e = grid[b];
                const RegionRect rect{x0 + e.column, x0 + e.column + e.width - 1, y0 + e.row,
                                      y0 + e.row + e.height - 1};
                if (rects_meet(rect, wanted)) expected.push_back(e);
            }
            ASSERT_EQ(static_cast<size_t>(window_count), expected.size()) << "trial " << trial;
            if (window_count > 0) ++compared;
            for (int32_t b = 0; b < window_count; ++b) {
                EXPECT_EQ(
                    std::memcmp(&window[b], &expected[static_cast<size_t>(b)], sizeof(BlockEntry)),
                    0)
                    << "trial " << trial << " block " << b;
            }
            release_stream_header(&table, grid);
            release_stream_header(&window_table, window);
        }
        ASSERT_EQ(pool_block_count(), 0u) << "trial " << trial;
    }
    EXPECT_GT(compared, 500);
    EXPECT_GT(refused, 50);
}

// A file that is never stored: a tile stream at offset 16 with 2000 x 2000 blocks of 1 x 1
// (16 MB of offsets, block b's offset is 0x10000000 + b), counting the bytes read from it.
class LargeGridFile final : public ByteSource {
  public:
    static constexpr int64_t kSide = 2000;
    static constexpr int64_t kStreamAt = 16;
    LargeGridFile() : LargeGridFile(stream_bytes(1, 1, 0, 0)) {}
    mutable int64_t bytes_read = 0;

  protected:
    int64_t read_within(int64_t offset, void* out, int64_t count) const override {
        auto* bytes = static_cast<uint8_t*>(out);
        for (int64_t n = 0; n < count; ++n) bytes[n] = byte_at(offset + n);
        bytes_read += count;
        return count;
    }

  private:
    explicit LargeGridFile(std::vector<uint8_t> start)
        : ByteSource(kStreamAt + static_cast<int64_t>(start.size()) + 4 * kSide * kSide, nullptr),
          start_(std::move(start)) {}

    uint8_t byte_at(int64_t at) const {
        const int64_t in_stream = at - kStreamAt;
        if (in_stream < 0) return 0;
        if (in_stream < static_cast<int64_t>(start_.size())) {
            return start_[static_cast<size_t>(in_stream)];
        }
        const int64_t in_table = in_stream - static_cast<int64_t>(start_.size());
        const auto value = static_cast<uint32_t>(0x10000000 + in_table / 4);
        return static_cast<uint8_t>(value >> (8 * (3 - in_table % 4)));
    }

    std::vector<uint8_t> start_;
};

TEST(BlockWindow, ReadsOnlyTheOffsetsOfTheNeededBlocks) {
    LargeGridFile grid;
    ByteStream opened(grid);
    ByteStream* stream = &opened;
    int32_t offsets[1] = {static_cast<int32_t>(LargeGridFile::kStreamAt)};
    const TileEntry tile{offsets, 0, LargeGridFile::kSide - 1, 0, LargeGridFile::kSide - 1};
    const RegionRect needed{500, 509, 700, 709};
    float step = 0;
    CodeTable table{};
    BlockEntry* blocks = nullptr;
    int32_t count = 0;
    ASSERT_EQ(read_tile_stream_window(stream, &tile, 0, needed, grid.size(), &step, &table, &blocks,
                                      &count),
              StreamHeaderResult::read);
    ASSERT_EQ(count, 100);
    for (int32_t b = 0; b < count; ++b) {
        const int64_t row = 700 + b / 10, column = 500 + b % 10;
        EXPECT_EQ(blocks[b].column, column);
        EXPECT_EQ(blocks[b].row, row);
        EXPECT_EQ(blocks[b].width, 1);
        EXPECT_EQ(blocks[b].height, 1);
        EXPECT_EQ(blocks[b].offset, 0x10000000 + row * LargeGridFile::kSide + column);
    }
    // Ten rows of ten offsets, each read through the stream's buffer: far less than the 16 MB
    // the whole table takes, and only 100 entries laid out.
    EXPECT_LT(grid.bytes_read, 200 * 1024);
    EXPECT_EQ(pool_bytes_held(), 16 + 256 + 100 * sizeof(BlockEntry));
    release_stream_header(&table, blocks);
    EXPECT_EQ(pool_block_count(), 0u);
}

}  // namespace
