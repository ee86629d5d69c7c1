// A reader that reads several ranges in one call (as over HTTP) gets a window's bytes in a few
// such calls, and decodes give the same bytes and statuses as through a plain reader, for whole
// files, damaged ones, and readers whose range reads fail.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "encode/kavel_writer.h"
#include "kavel/kavel.h"
#include "tests/capi/capi_files.h"
#include "tests/support/test_files.h"

namespace {

struct RangeReader {
    std::vector<uint8_t> bytes;
    bool with_ranges = true;
    int ranges_working = 1 << 30;  // range calls that succeed; the later ones fail
    int read_at_calls = 0;  // beyond the header, which every decode reads again
    int range_calls = 0;

    static int64_t read_at(void* context, uint64_t offset, void* buffer, size_t length) {
        auto* r = static_cast<RangeReader*>(context);
        if (offset >= 23) ++r->read_at_calls;
        if (offset >= r->bytes.size()) return 0;
        const std::size_t n = std::min<std::size_t>(length, r->bytes.size() - offset);
        std::memcpy(buffer, r->bytes.data() + offset, n);
        return static_cast<int64_t>(n);
    }
    static int read_ranges(void* context, size_t count, const uint64_t* offsets,
                           const size_t* lengths, void* const* buffers) {
        auto* r = static_cast<RangeReader*>(context);
        if (++r->range_calls > r->ranges_working) return -1;
        for (size_t i = 0; i < count; ++i) {
            // Every range lies within the source and is read whole.
            EXPECT_LE(offsets[i] + lengths[i], r->bytes.size());
            if (offsets[i] + lengths[i] > r->bytes.size()) return -1;
            std::memcpy(buffers[i], r->bytes.data() + offsets[i], lengths[i]);
        }
        return 0;
    }
    kavel_reader reader() {
        return kavel_reader{this, read_at, bytes.size(), with_ranges ? read_ranges : nullptr,
                            nullptr};
    }
};

struct Decoded {
    kavel_status status;
    std::vector<uint8_t> pixels;
    int read_at_calls;
    int range_calls;
};

Decoded decode_through(RangeReader& source, int32_t scale, const kavel_window& w,
                       int32_t planes) {
    kavel_image* image = nullptr;
    const kavel_reader reader = source.reader();
    Decoded result{kavel_open_reader(&reader, &image), {}, 0, 0};
    if (result.status != KAVEL_OK) return result;
    source.read_at_calls = source.range_calls = 0;
    const std::size_t stride = static_cast<std::size_t>(w.x1 - w.x0 + 1) * planes;
    result.pixels.assign(stride * static_cast<std::size_t>(w.y1 - w.y0 + 1), 0x5A);
    result.status = kavel_decode(image, scale, w, result.pixels.data(), stride, nullptr);
    result.read_at_calls = source.read_at_calls;
    result.range_calls = source.range_calls;
    kavel_close(image);
    return result;
}

std::vector<uint8_t> make_file(const std::string& path, int32_t planes, kavel::LayoutOrder order,
                               uint32_t seed) {
    kavel_test::Layout layout;
    layout.tile = 64;
    layout.block = 16;
    kavel::FileInput file = kavel_test::random_file(planes, 3, 300, 200, seed, layout);
    file.layout.order = order;
    return kavel_test::write_file(file, path);
}

const kavel_window kWindows[] = {{0, 0, 299, 199}, {37, 11, 170, 150}, {250, 150, 340, 260},
                                 {-20, -5, 40, 30}};
// Header and pointer table, directories (and the rest of long ones), stream starts, offset
// rows, blocks.
constexpr int kMostRangeCalls = 6;

TEST(RangeReads, AWindowIsReadInAFewRangeCallsAndDecodesAlike) {
    kavel_test::TempDir dir;
    for (const auto order : {kavel::LayoutOrder::natural, kavel::LayoutOrder::index_first,
                             kavel::LayoutOrder::by_place, kavel::LayoutOrder::reversed}) {
        for (const int32_t planes : {1, 3}) {
            RangeReader ranges, plain;
            ranges.bytes = make_file(dir.path("f.kvl"), planes, order, 40u + planes);
            plain.bytes = ranges.bytes;
            plain.with_ranges = false;
            for (const int32_t scale : {0, 1, 3}) {
                for (const kavel_window& w : kWindows) {
                    const Decoded expected = decode_through(plain, scale, w, planes);
                    const Decoded got = decode_through(ranges, scale, w, planes);
                    ASSERT_EQ(expected.status, KAVEL_OK);
                    ASSERT_EQ(got.status, KAVEL_OK) << kavel_last_error();
                    EXPECT_EQ(got.pixels, expected.pixels);
                    EXPECT_GE(got.range_calls, 1);
                    EXPECT_LE(got.range_calls, kMostRangeCalls);
                    // Everything the decode read was fetched ahead.
                    EXPECT_EQ(got.read_at_calls, 0)
                        << "layout " << static_cast<int>(order) << " planes " << planes
                        << " scale " << scale << " window " << w.x0 << "," << w.y0;
                }
            }
        }
    }
}

// Cut short or with bytes changed anywhere, a file decodes through a reader with range reads
// exactly as through one without: the same status and the same bytes (or the buffer left).
TEST(RangeReads, DamagedFilesFailAsWithoutRangeReads) {
    kavel_test::TempDir dir;
    const std::vector<uint8_t> whole =
        make_file(dir.path("d.kvl"), 3, kavel::LayoutOrder::by_place, 7u);
    const kavel_window w{37, 11, 170, 150};
    int failures = 0;
    for (std::size_t cut = 30; cut < whole.size(); cut += whole.size() / 23) {
        for (const bool truncate : {true, false}) {
            RangeReader ranges, plain;
            ranges.bytes = whole;
            if (truncate) {
                ranges.bytes.resize(cut);
            } else {
                for (std::size_t k = cut; k < std::min(cut + 4, whole.size()); ++k)
                    ranges.bytes[k] ^= 0xA5;
            }
            plain.bytes = ranges.bytes;
            plain.with_ranges = false;
            for (const int32_t scale : {0, 2}) {
                const Decoded expected = decode_through(plain, scale, w, 3);
                const Decoded got = decode_through(ranges, scale, w, 3);
                EXPECT_EQ(got.status, expected.status) << "cut " << cut << " " << truncate;
                EXPECT_EQ(got.pixels, expected.pixels) << "cut " << cut << " " << truncate;
                if (expected.status != KAVEL_OK) ++failures;
            }
        }
    }
    EXPECT_GT(failures, 10);  // the damage was seen
}

// A reader whose range reads fail (from the first or a later step on) is read with read_at
// where nothing is held: the same bytes, also where held and not held bytes lie side by side
// and the blocks lie before their headers.
TEST(RangeReads, FailingRangeReadsFallBackToPlainReads) {
    kavel_test::TempDir dir;
    for (const auto order : {kavel::LayoutOrder::index_first, kavel::LayoutOrder::reversed}) {
        RangeReader failing, plain;
        failing.bytes = make_file(dir.path("g.kvl"), 3, order, 9u);
        plain.bytes = failing.bytes;
        plain.with_ranges = false;
        for (const int working : {0, 2, 3}) {
            failing.ranges_working = working;
            int plain_reads = 0;
            for (const kavel_window& w : kWindows) {
                const Decoded expected = decode_through(plain, 1, w, 3);
                const Decoded got = decode_through(failing, 1, w, 3);
                ASSERT_EQ(got.status, KAVEL_OK) << kavel_last_error();
                EXPECT_EQ(got.pixels, expected.pixels) << working;
                // Nothing more is tried after a failed step.
                EXPECT_LE(got.range_calls, working + 1);
                plain_reads += got.read_at_calls;
            }
            EXPECT_GT(plain_reads, 0);
        }
    }
}

}  // namespace
