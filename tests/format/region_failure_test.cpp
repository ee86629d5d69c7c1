// Damaged files: every failure leaves the pool empty and the caller's buffer untouched.
#include <gtest/gtest.h>

#include "format/kavel.h"
#include "format/pool.h"
#include "tests/support/test_files.h"

namespace {

using kavel_test::TempDir;

uint32_t be32_at(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
           b[at + 3];
}
void put_be32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Offsets of the structures of subband 0, tile 0, plane 0 of a file.
struct Structures {
    size_t directory, record, stream, step, block_width, block_offsets, first_block;
    uint32_t symbol_count;
};

Structures locate(const std::vector<uint8_t>& b, int32_t planes) {
    Structures s{};
    s.directory = be32_at(b, 23);
    s.record = s.directory + 8;
    s.stream = be32_at(b, s.record);
    s.symbol_count = 0;
    for (int i = 0; i < 16; ++i) s.symbol_count += b[s.stream + 2 + i];
    s.step = s.stream + 18 + s.symbol_count;
    s.block_width = s.step + 4;
    s.block_offsets = s.step + 12;
    s.first_block = be32_at(b, s.block_offsets);
    (void)planes;
    return s;
}

class DamagedFile : public testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.path("d.kvl");
        // Grey, L = 0, one tile with 4 x 4 blocks: every structure is met by a whole decode.
        good_ = kavel_test::write_file(kavel_test::random_file(1, 0, 12, 10, 21,
                                                               kavel_test::Layout{0, 4, false}),
                                       path_);
        ASSERT_TRUE(kavel_test::decode_window(path_, 0, 0, 0, 11, 9, &reference_, 1));
    }

    // Decodes the whole image from bytes; expects a clean failure (buffer untouched, pool
    // empty) or, when may_succeed, exactly the reference pixels.
    void expect_clean(const std::vector<uint8_t>& bytes, bool may_succeed, const char* what) {
        kavel_test::write_bytes(path_, bytes);
        std::vector<uint8_t> buffer(12 * 10, 0xA5);
        const auto image = kavel::Image::open(path_);
        bool ok = false;
        if (image) ok = image->decode(0, kavel::Window{0, 0, 11, 9}, buffer.data(), 12);
        EXPECT_EQ(pool_block_count(), 0u) << what;
        if (ok) {
            EXPECT_TRUE(may_succeed) << what << ": damage went unnoticed";
            EXPECT_EQ(buffer, reference_) << what;
        } else {
            EXPECT_EQ(buffer, std::vector<uint8_t>(12 * 10, 0xA5)) << what;
        }
    }

    TempDir dir_;
    std::string path_;
    std::vector<uint8_t> good_;
    std::vector<uint8_t> reference_;
};

TEST_F(DamagedFile, HeadersThatMakeNoImageAreRefused) {
    for (auto [at, value] : {std::pair{7, 0u}, {11, 32u}, {11, 0xFFFFFFFFu}, {15, 0u},
                             {19, 0x80000000u}, {7, 100000u}}) {
        auto bytes = good_;
        put_be32(&bytes, static_cast<size_t>(at), value);
        expect_clean(bytes, false, "header");
    }
}

TEST_F(DamagedFile, TruncationAnywhereFailsCleanly) {
    for (size_t size = 0; size < good_.size(); ++size) {
        std::vector<uint8_t> bytes(good_.begin(), good_.begin() + static_cast<long>(size));
        // A cut that only removes bytes no decode needs may still decode the same picture.
        expect_clean(bytes, true, ("truncated at " + std::to_string(size)).c_str());
    }
}

TEST_F(DamagedFile, FlippedBytesFailCleanly) {
    for (size_t at = 0; at < good_.size(); ++at) {
        for (int mask : {0x01, 0x80, 0xFF}) {
            auto bytes = good_;
            bytes[at] = static_cast<uint8_t>(bytes[at] ^ mask);
            kavel_test::write_bytes(path_, bytes);
            std::vector<uint8_t> buffer(12 * 10, 0xA5);
            const auto image = kavel::Image::open(path_);
            bool ok = image && image->decode(0, kavel::Window{0, 0, 11, 9}, buffer.data(), 12);
            ASSERT_EQ(pool_block_count(), 0u) << at;
            if (!ok) {
                ASSERT_EQ(buffer, std::vector<uint8_t>(12 * 10, 0xA5)) << at;
            }
        }
    }
}

TEST_F(DamagedFile, DirectoryCountsAreCheckedAgainstTheFile) {
    const Structures s = locate(good_, 1);
    for (uint32_t count : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x01000000u, 2u}) {
        auto bytes = good_;
        put_be32(&bytes, s.directory + 4, count);
        // A second record taken from the bytes that follow may lie apart from the window.
        expect_clean(bytes, count == 2u, "tile count");
    }
    auto bytes = good_;
    put_be32(&bytes, s.directory + 4, 0);  // an empty directory is valid: all zero
    kavel_test::write_bytes(path_, bytes);
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(kavel_test::decode_window(path_, 0, 0, 0, 11, 9, &pixels, 1));
    for (uint8_t p : pixels) ASSERT_EQ(p, 0);
}

TEST_F(DamagedFile, TileStreamHeadersAreChecked) {
    const Structures s = locate(good_, 1);
    auto more_symbols = good_;
    more_symbols[s.stream + 2 + 15] = 255;  // N far above 256
    expect_clean(more_symbols, false, "symbol count");
    for (uint32_t side : {0u, 0xFFFFFFFFu}) {
        auto bytes = good_;
        put_be32(&bytes, s.block_width, side);
        expect_clean(bytes, false, "block width");
        bytes = good_;
        put_be32(&bytes, s.block_width + 4, side);
        expect_clean(bytes, false, "block height");
    }
    // Tiles that meet the window but have a negative size, or are wider than 65535.
    const size_t x0 = s.record + 4, y0 = s.record + 8, x1 = s.record + 12, y1 = s.record + 16;
    const std::vector<std::vector<std::pair<size_t, uint32_t>>> bad_tiles = {
        {{x0, 5}, {x1, 3}}, {{y0, 4}, {y1, 1}}, {{x1, 70000}}, {{y1, 65535}}};
    for (const auto& edits : bad_tiles) {
        auto bytes = good_;
        for (auto [at, value] : edits) put_be32(&bytes, at, value);
        expect_clean(bytes, false, "tile rectangle");
    }
    // A tile of zero width is valid and has no blocks.
    auto empty = good_;
    put_be32(&empty, s.record + 12, be32_at(good_, s.record + 4) - 1);
    kavel_test::write_bytes(path_, empty);
    std::vector<uint8_t> pixels;
    EXPECT_TRUE(kavel_test::decode_window(path_, 0, 0, 0, 11, 9, &pixels, 1));
    // A huge block grid whose offsets cannot be in the file.
    auto tiny_blocks = good_;
    put_be32(&tiny_blocks, s.record + 12, 60000);
    put_be32(&tiny_blocks, s.record + 16, 60000);
    put_be32(&tiny_blocks, s.block_width, 1);
    put_be32(&tiny_blocks, s.block_width + 4, 1);
    expect_clean(tiny_blocks, false, "block offsets");
}

TEST_F(DamagedFile, OverfullCodeTableFailsTheBlock) {
    const Structures s = locate(good_, 1);
    ASSERT_GE(s.symbol_count, 3u);
    ASSERT_LE(s.symbol_count, 257u);
    // Two codes of length 1 fill the code space; the codes of length 2 then overflow it.
    auto overfull = good_;
    for (int i = 0; i < 16; ++i) overfull[s.stream + 2 + i] = 0;
    overfull[s.stream + 2] = 2;
    overfull[s.stream + 3] = static_cast<uint8_t>(s.symbol_count - 2);
    expect_clean(overfull, false, "over-full code");
}

TEST_F(DamagedFile, StructuresOutsideTheFileFail) {
    const Structures s = locate(good_, 1);
    for (size_t at : {size_t{23}, s.record, s.block_offsets}) {
        for (uint32_t offset : {0x7FFFFFF0u, 0xFFFFFFF0u, static_cast<uint32_t>(good_.size())}) {
            auto bytes = good_;
            put_be32(&bytes, at, offset);
            expect_clean(bytes, false, "offset");
        }
    }
}

}  // namespace

namespace {

// A colour file with several levels, tiles and blocks: every byte flipped, and every
// truncation, either decodes or fails cleanly; a window and a coarser scale too.
TEST(DamagedColourFile, EveryByteFlippedOrCutFailsCleanly) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("c.kvl");
    const auto good = kavel_test::write_file(
        kavel_test::random_file(3, 2, 24, 20, 5, kavel_test::Layout{8, 4, false}), path);
    const struct {
        int32_t scale;
        kavel::Window window;
    } reads[] = {{0, {0, 0, 23, 19}}, {1, {2, 1, 9, 8}}};
    auto check = [&](const std::vector<uint8_t>& bytes, const std::string& what) {
        kavel_test::write_bytes(path, bytes);
        for (const auto& read : reads) {
            const size_t size = static_cast<size_t>(read.window.columns() * read.window.rows() * 3);
            std::vector<uint8_t> buffer(size, 0xA5);
            const auto image = kavel::Image::open(path);
            const bool ok = image && image->decode(read.scale, read.window, buffer.data(),
                                                   static_cast<size_t>(read.window.columns() * 3));
            ASSERT_EQ(pool_block_count(), 0u) << what;
            if (!ok) {
                ASSERT_EQ(buffer, std::vector<uint8_t>(size, 0xA5)) << what;
            }
        }
    };
    for (size_t at = 0; at < good.size(); ++at) {
        auto bytes = good;
        bytes[at] = static_cast<uint8_t>(bytes[at] ^ 0x41);
        check(bytes, "flip at " + std::to_string(at));
    }
    for (size_t size = 0; size < good.size(); size += 3) {
        check(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(size)),
              "cut at " + std::to_string(size));
    }
}

}  // namespace

namespace {

// A directory may list overlapping tiles (the later one wins), but one that stacks the same
// area over and over would make the work grow with its records: it is refused.
TEST(StackedTiles, AFewOverlapsDecodeManyAreRefused) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("s.kvl");
    for (const int copies : {3, 100}) {
        kavel::FileInput file = kavel_test::random_file(1, 0, 40, 30, 9);
        const kavel::TileInput tile = file.subbands[0].tiles[0];
        file.subbands[0].tiles.assign(static_cast<size_t>(copies), tile);
        kavel_test::write_file(file, path);
        std::vector<uint8_t> pixels;
        const bool ok = kavel_test::decode_window(path, 0, 0, 0, 39, 29, &pixels, 1);
        EXPECT_EQ(ok, copies == 3) << copies;
        EXPECT_EQ(pool_block_count(), 0u);
    }
}

}  // namespace
