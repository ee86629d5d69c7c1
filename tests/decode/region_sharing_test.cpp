// What the leaves of one region decode share: one copy of each tile directory, kept to the
// records the decode needs, and a work budget that refuses files naming the same long data
// again and again while valid files stay well within it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "decode/block_decoder.h"
#include "decode/decode_driver.h"
#include "tests/support/reference/reference_decoder.h"
#include "decode/wavelet.h"
#include "format/pool.h"
#include "format/region_decode.h"
#include "tests/support/test_files.h"
#include "tests/support/opened_file.h"

namespace {

void put_be32(std::vector<uint8_t>* bytes, int64_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) bytes->push_back(static_cast<uint8_t>(v >> shift));
}

// Header and pointer table of a file whose 3L + 1 subbands all name the directory that follows.
std::vector<uint8_t> shared_directory_start(int32_t planes, int32_t levels, int32_t side) {
    std::vector<uint8_t> bytes = {'k', 'v', 'e', 'l', 0, 0, 0};
    for (int32_t v : {planes, levels, side, side}) put_be32(&bytes, v);
    const int32_t subbands = 3 * levels + 1;
    for (int32_t k = 0; k < subbands; ++k) put_be32(&bytes, 23 + 4 * subbands);
    return bytes;
}

// Appends a directory of tile records without streams.
void put_empty_records(std::vector<uint8_t>* bytes, int32_t planes,
                       const std::vector<RegionRect>& tiles) {
    bytes->insert(bytes->end(), {0xFF, 0xAC, 0, 0});
    put_be32(bytes, static_cast<int64_t>(tiles.size()));
    for (const RegionRect& t : tiles) {
        for (int32_t j = 0; j < planes; ++j) put_be32(bytes, 0);
        for (int32_t v : {t.x0, t.y0, t.x1, t.y1}) put_be32(bytes, v);
    }
}

RegionNode leaf_for(const RegionRect& needed) {
    RegionNode leaf{};
    leaf.x0 = needed.x0;
    leaf.x1 = needed.x1;
    leaf.y0 = needed.y0;
    leaf.y1 = needed.y1;
    leaf.gain = 1.0f;
    return leaf;
}

TEST(SharedDirectory, OneCopyServesEveryLeafAndPlane) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("shared.kvl");
    std::vector<uint8_t> bytes = shared_directory_start(3, 1, 64);
    std::vector<RegionRect> tiles(200, RegionRect{1000, 1009, 1000, 1009});  // far away
    tiles.push_back({0, 3, 0, 3});                                           // meets the first leaf
    tiles.push_back({30, 40, 0, 5});                                         // meets the second
    put_empty_records(&bytes, 3, tiles);
    kavel_test::write_bytes(path, bytes);

    kavel_test::OpenedFile file(path);
    ASSERT_TRUE(file.opened());
    ByteStream* stream = file.stream();
    const LeafNeed leaves[2] = {{0, {0, 9, 0, 9}}, {1, {20, 31, 0, 4}}};
    ASSERT_EQ(open_region_decode(stream, 3, leaves, 2), 0);
    const std::size_t blocks = pool_block_count();
    const std::size_t bytes_held = pool_bytes_held();

    RegionNode first = leaf_for(leaves[0].needed);
    ASSERT_EQ(decode_subband(stream, &first, 0, 0, 0, 3), 0);
    // The directory's two useful records in one block, and the leaf's array.
    const std::size_t table_bytes = 2 * (sizeof(TileEntry) + 3 * sizeof(int32_t));
    EXPECT_EQ(pool_block_count(), blocks + 2);
    EXPECT_EQ(pool_bytes_held(), bytes_held + table_bytes + 100 * sizeof(float));

    // Another subband naming the same directory, and another plane: only their arrays (none
    // for the other subband, which no record gives data for: its leaf is read as zeros).
    RegionNode second = leaf_for(leaves[1].needed);
    ASSERT_EQ(decode_subband(stream, &second, 1, 0, 0, 3), 0);
    EXPECT_EQ(second.coefficients, nullptr);
    RegionNode first_plane_2 = leaf_for(leaves[0].needed);
    ASSERT_EQ(decode_subband(stream, &first_plane_2, 0, 0, 2, 3), 0);
    EXPECT_EQ(pool_block_count(), blocks + 3);
    EXPECT_EQ(pool_bytes_held(), bytes_held + table_bytes + 200 * sizeof(float));

    close_region_decode(stream, true);
    EXPECT_EQ(pool_block_count(), 2u);  // the two arrays
    pool_free_all();
}

TEST(SharedDirectory, MemoryFollowsTheWindowNotTheDirectory) {
    // Every one of the 94 subbands of a colour image names one directory of 50000 records
    // far from the window.
    kavel_test::TempDir dir;
    const std::string path = dir.path("large-directory.kvl");
    std::vector<uint8_t> bytes = shared_directory_start(3, 31, 1 << 20);
    const int32_t records = 50000;
    put_empty_records(&bytes, 3, std::vector<RegionRect>(records, {60000, 60001, 60000, 60001}));
    kavel_test::write_bytes(path, bytes);

    RegionRequest* request = nullptr;
    ASSERT_EQ(make_region_request(kavel_test::OpenedFile(path).source(), &request, 0, 0, 63, 0, 63, 64 * 3), 0);
    std::vector<uint8_t> pixels(64 * 64 * 3 + 3, 0xA5);
    pool_reset_peak();
    ASSERT_EQ(decode_region(kavel_test::OpenedFile(path).source(), request, pixels.data()), 0);
    // One copy of the whole directory would take 36 bytes per record.
    EXPECT_LT(pool_peak_bytes(), std::size_t{records} * 36 / 4);
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(free_region_request(request), 0);
    EXPECT_EQ(pool_block_count(), 0u);
}

// A grey 65535 x 65535 file, L = 0, whose directory names `records` times a side x side tile
// that meets the image in its sample (0, 0), the last sample of its one block; the block's code
// spends one bit per zero, so every record decodes side^2 symbols to reach that sample.
std::vector<uint8_t> long_block_file(int32_t records, int32_t side) {
    std::vector<uint8_t> bytes = {'k', 'v', 'e', 'l', 0, 0, 0};
    for (int32_t v : {1, 0, 65535, 65535, 27}) put_be32(&bytes, v);
    bytes.insert(bytes.end(), {0xFF, 0xAC, 0, 0});
    put_be32(&bytes, records);
    const int64_t stream_at = 35 + 20 * int64_t{records};
    for (int32_t r = 0; r < records; ++r) {
        for (int64_t v :
             {stream_at, int64_t{1} - side, int64_t{1} - side, int64_t{0}, int64_t{0}}) {
            put_be32(&bytes, v);
        }
    }
    bytes.insert(bytes.end(), {0xFF, 0xAA, 1});
    bytes.resize(bytes.size() + 15, 0);
    bytes.push_back(0x01);         // the one symbol: a run of one zero
    put_be32(&bytes, 0x3F800000);  // step 1.0
    put_be32(&bytes, side);
    put_be32(&bytes, side);
    put_be32(&bytes, stream_at + 35);  // the block follows its offset
    bytes.insert(bytes.end(), {0xFF, 0xA3});
    bytes.resize(bytes.size() + static_cast<std::size_t>(side) * side / 8 + 8, 0);
    return bytes;
}

struct Verdict {
    bool decoded;
    std::vector<uint8_t> pixels;
};

Verdict decode_corner(const std::string& path, bool reference) {
    RegionRequest* request = nullptr;
    EXPECT_EQ(make_region_request(kavel_test::OpenedFile(path).source(), &request, 0, 0, 63, 0, 63, 64), 0);
    Verdict verdict{false, std::vector<uint8_t>(64 * 64 + 1, 0xA5)};
    DecodeContext context;
    context.decoder = reference ? reference_decoder() : nullptr;
    verdict.decoded = decode_region(kavel_test::OpenedFile(path).source(), request,
                                    verdict.pixels.data(), &context) == 0;
    if (verdict.decoded) {
        EXPECT_EQ(free_region_request(request), 0);
    }
    EXPECT_EQ(pool_block_count(), 0u);
    return verdict;
}

TEST(WorkBudget, RefusesTilesThatDecodeOneLongBlockAgainAndAgain) {
    kavel_test::TempDir dir;
    const std::string once = dir.path("once.kvl");
    const std::string again = dir.path("again.kvl");
    kavel_test::write_bytes(once, long_block_file(1, 300));
    kavel_test::write_bytes(again, long_block_file(12, 300));  // 12 x 90000 symbols

    for (bool reference : {false, true}) {
        SCOPED_TRACE(reference ? "reference" : "fast");
        const Verdict one = decode_corner(once, reference);
        EXPECT_TRUE(one.decoded);
        EXPECT_EQ(one.pixels[1], 0);  // written: no tile covers (1, 0)
        const Verdict many = decode_corner(again, reference);
        EXPECT_FALSE(many.decoded);
        EXPECT_TRUE(std::all_of(many.pixels.begin(), many.pixels.end(),
                                [](uint8_t b) { return b == 0xA5; }));
    }
}

// The work a whole-image decode of a file spends, with the fast or the reference decoder.
int64_t work_of_whole_decode(const std::string& path, int32_t planes, bool reference) {
    RegionRequest* request = nullptr;
    kavel_test::OpenedFile file(path);
    EXPECT_EQ(make_region_request(file.source(), &request, 0, 0, 299, 0, 199, 300 * planes), 0);
    ByteStream* stream = file.stream();
    stream->context()->decoder = reference ? reference_decoder() : nullptr;
    EXPECT_EQ(open_region_decode(stream, planes, nullptr, 0), 0);
    for (int32_t j = 0; j < planes; ++j) {
        BandNode* plan = nullptr;
        RegionNode* region = nullptr;
        EXPECT_EQ(build_band_plan(&plan, request), 0);
        EXPECT_EQ(plan_plane_region(&region, plan, request, stream, j, planes), 0)
            << stream->context()->message();
        release_band_plan(plan);
        release_region(region);
    }
    const int64_t spent = region_work_spent(stream);
    close_region_decode(stream, true);
    EXPECT_EQ(free_region_request(request), 0);
    EXPECT_EQ(pool_block_count(), 0u);
    return spent;
}

TEST(WorkBudget, ValidFilesSpendLessThanHalfOfIt) {
    kavel_test::TempDir dir;
    int trial = 0;
    for (const kavel_test::Layout& layout :
         {kavel_test::Layout{0, 8, false}, kavel_test::Layout{64, 16, false},
          kavel_test::Layout{16, 4, true}}) {
        const std::string path = dir.path("valid-" + std::to_string(trial) + ".kvl");
        const auto size = static_cast<int64_t>(
            kavel_test::write_file(
                kavel_test::random_file(3, 3, 300, 200, 40u + static_cast<uint32_t>(trial), layout),
                path)
                .size());
        const int64_t fast = work_of_whole_decode(path, 3, false);
        const int64_t reference = work_of_whole_decode(path, 3, true);
        EXPECT_GT(fast, 0) << "trial " << trial;
        EXPECT_EQ(fast, reference) << "trial " << trial;  // the two paths count alike
        EXPECT_LT(fast, 8 * size) << "trial " << trial;
        ++trial;
    }
}

// The fast decoder and the reference decoder count the same symbols for every block that
// decodes: random code tables and data, with markers and early ends.
TEST(WorkBudget, BothDecodersCountTheSameSymbols) {
    std::minstd_rand random(3);
    int decoded = 0;
    for (int trial = 0; trial < 5000; ++trial) {
        uint8_t counts[16] = {};
        uint8_t symbols[256] = {};
        int room = 1 << 8;
        int n = 0;
        for (int length = 1; length <= 8 && n < 256; ++length) {
            const int free_codes = room >> (8 - length);
            int take = length == 8 ? free_codes : static_cast<int>(random() % (free_codes + 1));
            take = std::min(take, 256 - n);
            counts[length - 1] = static_cast<uint8_t>(take);
            room -= take << (8 - length);
            n += take;
        }
        for (int i = 0; i < n; ++i) symbols[i] = static_cast<uint8_t>(random());
        const CodeTable table{counts, symbols};
        std::vector<uint8_t> data = {0xFF, 0xA3};
        const std::size_t length = random() % 48;
        for (std::size_t i = 0; i < length; ++i) {
            const auto r = static_cast<uint32_t>(random() % 16);
            data.push_back(static_cast<uint8_t>(r == 0 ? 0xFF : (r == 1 ? 0x00 : random())));
        }
        const auto side = [&random](uint32_t most) {
            return 1 + static_cast<int32_t>(random() % most);
        };
        const int32_t bw = side(16), bh = side(6);
        const int32_t ix0 = side(static_cast<uint32_t>(bw)) - 1;
        const int32_t iy0 = side(static_cast<uint32_t>(bh)) - 1;
        const RegionRect block{0, bw - 1, 0, bh - 1};
        const RegionRect wanted{ix0, ix0 + side(static_cast<uint32_t>(bw - ix0)) - 1, iy0,
                                iy0 + side(static_cast<uint32_t>(bh - iy0)) - 1};
        std::vector<int16_t> values(static_cast<std::size_t>(bw * bh));
        int64_t fast_symbols = 0, reference_symbols = 0;
        const std::unique_ptr<ByteSource> source = make_memory_source(data.data(), data.size());
        ByteStream stream(*source);
        ByteStream* f = &stream;
        const int reference_result =
            decode_block_reference(f, values.data(), table, block, wanted, &reference_symbols);
        f->seek(0);
        BlockDecoderTables tables;
        const bool built = build_block_decoder_tables(table, &tables) == 0;
        const int fast_result =
            built ? decode_block_with_tables(f, values.data(), tables, block, wanted, &fast_symbols)
                  : 1;
        ASSERT_EQ(fast_result, reference_result) << "trial " << trial;
        if (fast_result == 0) {
            ++decoded;
            ASSERT_EQ(fast_symbols, reference_symbols) << "trial " << trial;
        }
    }
    EXPECT_GT(decoded, 500);
}

}  // namespace
