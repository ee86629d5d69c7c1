// The fast decoder against the straightforward one: the same bytes for every file, window
// and scale, and the same verdict for every block, damaged or not.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "decode/block_decoder.h"
#include "decode/entropy_decoder.h"
#include "tests/support/reference/reference_decoder.h"
#include "format/kavel.h"
#include "format/pool.h"
#include "format/region_decode.h"
#include "format/region_request.h"
#include "tests/support/test_files.h"
#include "tests/support/opened_file.h"

namespace {

using kavel_test::Layout;
using kavel_test::TempDir;

const DecoderOverride* decoder_of(bool reference) {
    return reference ? reference_decoder() : nullptr;
}

bool decode_with(bool reference, const std::string& path, int32_t s, const kavel::Window& w,
                 int32_t planes, std::vector<uint8_t>* out) {
    const auto image = kavel::Image::open(path);
    if (!image) return false;
    const size_t stride = static_cast<size_t>(w.columns()) * planes;
    out->assign(stride * static_cast<size_t>(w.rows()), 0x5C);
    return image->decode(s, w, out->data(), stride, nullptr, decoder_of(reference));
}

void compare_file(const std::string& path, uint32_t seed) {
    const auto image = kavel::Image::open(path);
    ASSERT_TRUE(image);
    const int32_t p = image->info().planes;
    std::minstd_rand random(seed);
    for (int32_t s = 0; s <= image->info().levels; ++s) {
        const int32_t w = image->width_at(s), h = image->height_at(s);
        std::vector<kavel::Window> windows = {image->bounds_at(s)};
        for (int i = 0; i < 4; ++i) {
            const int32_t x0 = static_cast<int32_t>(random() % static_cast<uint32_t>(w + 4)) - 2;
            const int32_t y0 = static_cast<int32_t>(random() % static_cast<uint32_t>(h + 4)) - 2;
            windows.push_back({x0, y0, x0 + static_cast<int32_t>(random() % 40),
                               y0 + static_cast<int32_t>(random() % 40)});
        }
        for (const kavel::Window& win : windows) {
            std::vector<uint8_t> fast, reference;
            const bool fast_ok = decode_with(false, path, s, win, p, &fast);
            const bool reference_ok = decode_with(true, path, s, win, p, &reference);
            ASSERT_EQ(fast_ok, reference_ok) << path << " scale " << s;
            ASSERT_EQ(fast, reference) << path << " scale " << s << " window " << win.x0 << ","
                                       << win.y0 << "," << win.x1 << "," << win.y1;
            ASSERT_EQ(pool_block_count(), 0u);
        }
    }
}

TEST(FastDecoder, SameBytesAsTheReferenceOnGeneratedFiles) {
    TempDir dir;
    const std::string path = dir.path("f.kvl");
    const struct {
        int32_t planes, levels, width, height;
        Layout layout;
    } shapes[] = {{1, 3, 300, 200, {64, 16, false}},
                  {3, 4, 257, 129, {0, 32, true}},
                  {1, 5, 1, 40, {0, 4, false}},
                  {3, 2, 600, 9, {128, 64, false}},
                  {1, 0, 700, 3, {0, 7, false}},
                  {3, 6, 130, 130, {32, 8, false}},
                  // Wider than one synthesis tile and taller than one, in both directions.
                  {3, 3, 2100, 150, {256, 32, false}}};
    uint32_t seed = 100;
    for (const auto& shape : shapes) {
        kavel_test::write_file(kavel_test::random_file(shape.planes, shape.levels, shape.width,
                                                       shape.height, ++seed, shape.layout),
                               path);
        compare_file(path, seed);
    }
}

// Later tiles overwrite earlier ones where they overlap, zeros included; some tiles have no
// stream for a plane, and part of the subband is covered by no tile.
TEST(FastDecoder, OverlappingTilesAndUncoveredAreas) {
    TempDir dir;
    const std::string path = dir.path("o.kvl");
    kavel::FileInput file = kavel_test::random_file(3, 1, 40, 30, 31, Layout{0, 8, false});
    for (auto& directory : file.subbands) {
        const kavel::TileInput whole = directory.tiles[0];
        kavel::TileInput second = whole;
        second.x0 = whole.x0 + 3;
        second.y0 = whole.y0 + 2;
        const int32_t w = second.x1 - second.x0 + 1, h = second.y1 - second.y0 + 1;
        for (auto& plane : second.planes) {
            plane->coefficients.assign(static_cast<size_t>(std::max(w, 0) * std::max(h, 0)), 0);
            for (size_t i = 0; i < plane->coefficients.size(); i += 5) plane->coefficients[i] = 3;
        }
        second.planes[1].reset();  // no stream for plane 1
        kavel::TileInput first = whole;
        first.x1 = std::max(whole.x0, whole.x1 - 4);  // leaves the right edge uncovered
        for (auto& plane : first.planes) {
            const int32_t fw = first.x1 - first.x0 + 1, fh = first.y1 - first.y0 + 1;
            plane->coefficients.resize(static_cast<size_t>(fw * fh), 7);
        }
        directory.tiles = {first, second};
    }
    kavel_test::write_file(file, path);
    compare_file(path, 3);
}

// Bands quantised to nothing (zero coefficients, or no stream at all) leave whole pieces of the
// synthesis without a value other than +0.0, which the fast decoder clears instead of lifting.
TEST(FastDecoder, BandsQuantisedToNothing) {
    TempDir dir;
    const std::string path = dir.path("z.kvl");
    kavel::FileInput file = kavel_test::random_file(3, 3, 700, 300, 21, Layout{128, 16, false});
    for (size_t k = 1; k < file.subbands.size(); ++k) {
        for (auto& tile : file.subbands[k].tiles) {
            // The chroma planes lose their detail: zeros in some tiles, no stream in others.
            for (size_t p = 1; p < tile.planes.size(); ++p) {
                if (!tile.planes[p]) continue;
                if ((tile.x0 / 128 + k) % 3 == 0) {
                    tile.planes[p].reset();
                } else {
                    std::fill(tile.planes[p]->coefficients.begin(),
                              tile.planes[p]->coefficients.end(), 0);
                }
            }
        }
    }
    kavel_test::write_file(file, path);
    compare_file(path, 21);
}

// Whole subbands without a stream in the chroma planes (as low rates leave them): their
// leaves hold no array and are read as zeros, at every scale and window, in every piece.
TEST(FastDecoder, SubbandsWithoutAnyStream) {
    TempDir dir;
    const std::string path = dir.path("n.kvl");
    kavel::FileInput file = kavel_test::random_file(3, 3, 300, 200, 23, Layout{64, 16, false});
    for (size_t k = 1; k < file.subbands.size(); ++k) {
        for (auto& tile : file.subbands[k].tiles) {
            for (size_t p = 1; p < tile.planes.size(); ++p) {
                if ((k + p) % 2 == 0 || k + 3 >= file.subbands.size()) tile.planes[p].reset();
            }
        }
    }
    kavel_test::write_file(file, path);
    compare_file(path, 23);
}

// A stride shorter than a row: each row's last pixel lies under the next row's first, and the
// rows must be stored top to bottom as the straightforward decoder stores them.
TEST(FastDecoder, ShortStrideRowsOverlapAsInTheReference) {
    TempDir dir;
    const std::string path = dir.path("s.kvl");
    kavel_test::write_file(kavel_test::random_file(3, 2, 1100, 80, 9, Layout{128, 16, false}),
                           path);
    const int32_t columns = 1100, rows = 80, stride = columns * 3 - 3;
    std::vector<uint8_t> out[2];
    for (int reference = 0; reference < 2; ++reference) {
        DecodeContext context;
        context.decoder = decoder_of(reference == 1);
        RegionRequest* request = nullptr;
        ASSERT_EQ(
            make_region_request(kavel_test::OpenedFile(path).source(), &request, 0, 0, columns - 1, 0, rows - 1, stride), 0);
        out[reference].assign(static_cast<size_t>(rows) * stride + 3, 0x5C);
        ASSERT_EQ(decode_region(kavel_test::OpenedFile(path).source(), request,
                                out[reference].data(), &context),
                  0);
        EXPECT_EQ(free_region_request(request), 0);
        EXPECT_EQ(pool_block_count(), 0u);
    }
    EXPECT_EQ(out[0], out[1]);
}

TEST(FastDecoder, SameVerdictOnDamagedFiles) {
    TempDir dir;
    const std::string path = dir.path("d.kvl");
    const auto good = kavel_test::write_file(
        kavel_test::random_file(3, 2, 40, 30, 77, Layout{16, 8, false}), path);
    std::minstd_rand random(5);
    for (int trial = 0; trial < 300; ++trial) {
        auto bytes = good;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const size_t at = 23 + random() % (bytes.size() - 23);
            bytes[at] = static_cast<uint8_t>(random());
        }
        if (trial % 7 == 0) bytes.resize(bytes.size() - random() % 200);
        kavel_test::write_bytes(path, bytes);
        const kavel::Window win{0, 0, 39, 29};
        std::vector<uint8_t> fast, reference;
        const bool fast_ok = decode_with(false, path, 0, win, 3, &fast);
        const bool reference_ok = decode_with(true, path, 0, win, 3, &reference);
        ASSERT_EQ(fast_ok, reference_ok) << "trial " << trial;
        ASSERT_EQ(fast, reference) << "trial " << trial;
    }
}

// Random block data (with markers, stuffing and early ends) and random code tables.
// A block of 1..max_width x 1..max_height coefficients and a window within it, drawn at random,
// with the window's coefficient count.
struct BlockAndWindow {
    RegionRect block, wanted;
    size_t count;
};
BlockAndWindow random_block_and_window(std::minstd_rand& random, uint32_t max_width,
                                       uint32_t max_height) {
    const int32_t bw = 1 + static_cast<int32_t>(random() % max_width);
    const int32_t bh = 1 + static_cast<int32_t>(random() % max_height);
    const int32_t ix0 = static_cast<int32_t>(random() % static_cast<uint32_t>(bw));
    const int32_t iy0 = static_cast<int32_t>(random() % static_cast<uint32_t>(bh));
    const int32_t ix1 = ix0 + static_cast<int32_t>(random() % static_cast<uint32_t>(bw - ix0));
    const int32_t iy1 = iy0 + static_cast<int32_t>(random() % static_cast<uint32_t>(bh - iy0));
    return {RegionRect{0, bw - 1, 0, bh - 1}, RegionRect{ix0, ix1, iy0, iy1},
            static_cast<size_t>((ix1 - ix0 + 1) * (iy1 - iy0 + 1))};
}

TEST(FastDecoder, SameBlocksAsTheReferenceOnRandomData) {
    std::minstd_rand random(11);
    for (int trial = 0; trial < 20000; ++trial) {
        uint8_t counts[16] = {};
        uint8_t symbols[256] = {};
        // A complete or nearly complete code with lengths 1..12.
        int remaining = 1 << 12;
        int n = 0;
        for (int length = 1; length <= 12 && n < 256; ++length) {
            const int room = remaining >> (12 - length);
            int take = static_cast<int>(random() % static_cast<uint32_t>(room + 1));
            if (length == 12) take = room;
            take = std::min({take, 255, 256 - n});
            counts[length - 1] = static_cast<uint8_t>(take);
            remaining -= take << (12 - length);
            n += take;
        }
        for (int i = 0; i < n; ++i) {
            const auto r = static_cast<uint32_t>(random() % 10);
            symbols[i] = static_cast<uint8_t>(r < 3 ? 101 + random() % 6 : random() % 256);
        }
        const CodeTable table{counts, symbols};
        std::vector<uint8_t> data = {0xFF, 0xA3};
        const size_t length = random() % 64;
        for (size_t i = 0; i < length; ++i) {
            const auto r = static_cast<uint32_t>(random() % 16);
            data.push_back(static_cast<uint8_t>(r == 0 ? 0xFF : (r == 1 ? 0x00 : random())));
        }
        const auto [block, wanted, count] = random_block_and_window(random, 20, 6);
        std::vector<int16_t> fast(count, 0), reference(count, 0);
        const std::unique_ptr<ByteSource> source = make_memory_source(data.data(), data.size());
        ByteStream stream(*source);
        ByteStream* f = &stream;
        const int reference_result =
            decode_block_reference(f, reference.data(), table, block, wanted);
        f->seek(0);
        const int fast_result = decode_block(f, fast.data(), table, block, wanted);
        ASSERT_EQ(fast_result, reference_result) << "trial " << trial;
        if (reference_result == 0) {
            ASSERT_EQ(fast, reference) << "trial " << trial;
        }
    }
}

// Codes of one to five bits, as the finest subbands use them, so that most look-ups name two
// symbols: the values, the symbols taken (the work a decode is charged) and the verdict must
// match the reference wherever a pair meets the end of a window row, the first window row, the
// end of the window, a marker or the end of the data.
TEST(FastDecoder, ShortCodesTakenInPairsAsTheReferenceTakesThem) {
    std::minstd_rand random(29);
    for (int trial = 0; trial < 20000; ++trial) {
        uint8_t counts[16] = {};
        uint8_t symbols[256] = {};
        // A complete code with lengths 1..5 (the last length takes what is left).
        int remaining = 1 << 5;
        int n = 0;
        for (int length = 1; length <= 5; ++length) {
            const int room = remaining >> (5 - length);
            int take = length == 5 ? room
                                   : static_cast<int>(random() % static_cast<uint32_t>(room + 1));
            if (length == 1) take = std::min(take, 1);
            counts[length - 1] = static_cast<uint8_t>(take);
            remaining -= take << (5 - length);
            n += take;
        }
        // Runs (symbol 0 among them), values and now and then a symbol with further bits.
        for (int i = 0; i < n; ++i) {
            const auto r = static_cast<uint32_t>(random() % 10);
            symbols[i] = static_cast<uint8_t>(r < 4   ? random() % 101
                                              : r < 9 ? 107 + random() % 149
                                                      : 101 + random() % 6);
        }
        const CodeTable table{counts, symbols};
        std::vector<uint8_t> data = {0xFF, 0xA3};
        const size_t length = random() % 200;
        for (size_t i = 0; i < length; ++i) {
            const auto r = static_cast<uint32_t>(random() % 64);
            data.push_back(static_cast<uint8_t>(r == 0 ? 0xFF : (r == 1 ? 0x00 : random())));
        }
        const auto [block, wanted, count] = random_block_and_window(random, 70, 8);
        std::vector<int16_t> fast(count, 0), reference(count, 0);
        const std::unique_ptr<ByteSource> source = make_memory_source(data.data(), data.size());
        ByteStream stream(*source);
        int64_t reference_symbols = 0, fast_symbols = 0;
        const int reference_result =
            decode_block_reference(&stream, reference.data(), table, block, wanted,
                                   &reference_symbols);
        stream.seek(0);
        BlockDecoderTables tables;
        ASSERT_EQ(build_block_decoder_tables(table, &tables), 0) << "trial " << trial;
        const int fast_result =
            decode_block_with_tables(&stream, fast.data(), tables, block, wanted, &fast_symbols);
        ASSERT_EQ(fast_result, reference_result) << "trial " << trial;
        ASSERT_EQ(fast_symbols, reference_symbols) << "trial " << trial;
        if (reference_result == 0) {
            ASSERT_EQ(fast, reference) << "trial " << trial;
        }
    }
}

}  // namespace
