// A path, bytes in memory and a caller's reader give the bytes of the straightforward decoder,
// and an opened image keeps reading the source it opened.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kavel/kavel.h"
#include "tests/capi/capi_files.h"

namespace {

using capi_test::decode;
using capi_test::reference_pixels;

struct Opened {
    kavel_image* image = nullptr;
    ~Opened() { kavel_close(image); }
};

// Windows that matter: the whole image, one inside, one over the right and lower edges, one
// wholly beyond, at full size, a middle scale and the coarsest.
const kavel_window kWindows[] = {{0, 0, 299, 199},   {37, 11, 170, 150}, {250, 150, 340, 260},
                                 {400, 300, 420, 310}, {-20, -5, 40, 30}};

TEST(Sources, PathMemoryAndReaderGiveTheStraightforwardDecodersBytes) {
    kavel_test::TempDir dir;
    for (const int32_t planes : {1, 3}) {
        const std::string path = dir.path("image" + std::to_string(planes) + ".kvl");
        capi_test::CountingReader counting;
        counting.bytes = capi_test::make_file(path, planes, 3, 300, 200, 17u + planes);
        Opened from_path, from_memory, from_reader;
        ASSERT_EQ(kavel_open_path(path.c_str(), &from_path.image), KAVEL_OK);
        ASSERT_EQ(kavel_open_memory(counting.bytes.data(), counting.bytes.size(),
                                    &from_memory.image),
                  KAVEL_OK);
        const kavel_reader reader = counting.reader();
        ASSERT_EQ(kavel_open_reader(&reader, &from_reader.image), KAVEL_OK);
        kavel_info info{};
        ASSERT_EQ(kavel_get_info(from_reader.image, &info), KAVEL_OK);
        EXPECT_EQ(info.planes, planes);
        EXPECT_EQ(info.levels, 3);
        EXPECT_EQ(info.width, 300);
        EXPECT_EQ(info.height, 200);
        for (const int32_t scale : {0, 1, 3}) {
            for (const kavel_window& w : kWindows) {
                // A stride with room between rows: those bytes are left alone.
                const std::size_t stride = static_cast<std::size_t>(w.x1 - w.x0 + 1) * planes + 5;
                const auto expected = reference_pixels(path, scale, w, planes, stride);
                for (kavel_image* image : {from_path.image, from_memory.image, from_reader.image}) {
                    const auto got = decode(image, scale, w, planes, stride);
                    ASSERT_EQ(got.status, KAVEL_OK) << kavel_last_error();
                    EXPECT_EQ(got.pixels, expected) << "planes " << planes << " scale " << scale
                                                    << " window " << w.x0 << "," << w.y0;
                }
            }
        }
        kavel_close(from_reader.image);
        from_reader.image = nullptr;
        EXPECT_EQ(counting.closed, 1);
    }
}

// A file moved over the name after opening is not read; one rewritten in place with another
// header fails the decode with SOURCE_CHANGED and leaves the buffer as it was.
TEST(Sources, AnOpenedPathKeepsItsFileAndNoticesAChangedHeader) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("grey.kvl");
    const std::string other = dir.path("colour.kvl");
    capi_test::make_file(path, 1, 2, 120, 90, 5);
    const std::vector<uint8_t> colour = capi_test::make_file(other, 3, 2, 120, 90, 6);
    const kavel_window w{0, 0, 119, 89};
    const auto expected = reference_pixels(path, 0, w, 1, 120);
    Opened opened;
    ASSERT_EQ(kavel_open_path(path.c_str(), &opened.image), KAVEL_OK);

    std::filesystem::rename(other, path);
    auto got = decode(opened.image, 0, w, 1, 120);
    ASSERT_EQ(got.status, KAVEL_OK) << kavel_last_error();
    EXPECT_EQ(got.pixels, expected);

    // Rewrite the file the image holds (the colour one now at the name is another file).
    Opened second;
    ASSERT_EQ(kavel_open_path(path.c_str(), &second.image), KAVEL_OK);
    const std::vector<uint8_t> grey = capi_test::make_file(dir.path("g2.kvl"), 1, 2, 120, 90, 7);
    kavel_test::write_bytes(path, grey);  // same inode: truncated and written again
    got = decode(second.image, 0, w, 3, 360, 1, 0x77);
    EXPECT_EQ(got.status, KAVEL_ERROR_SOURCE_CHANGED);
    EXPECT_NE(std::string(kavel_last_error()).find("planes 1"), std::string::npos)
        << kavel_last_error();
    EXPECT_EQ(got.pixels, std::vector<uint8_t>(got.pixels.size(), 0x77));
}

// A reader whose bytes become another image's after a number of reads at offset 0: wherever
// the change falls between the pieces of a decode, the decode gives the old image's bytes or
// fails with SOURCE_CHANGED and leaves the buffer as it was; it never writes three bytes per
// pixel into a buffer sized for one.
struct SwappingReader {
    std::atomic<const std::vector<uint8_t>*> before;
    const std::vector<uint8_t>* after;
    std::atomic<int> header_reads_left;
};

int64_t read_swapping(void* context, uint64_t offset, void* buffer, size_t length) {
    auto* r = static_cast<SwappingReader*>(context);
    if (offset == 0 && r->header_reads_left.fetch_sub(1) <= 0) r->before.store(r->after);
    const std::vector<uint8_t>& bytes = *r->before.load();
    if (offset >= bytes.size()) return 0;
    const std::size_t n = std::min<std::size_t>(length, bytes.size() - offset);
    std::memcpy(buffer, bytes.data() + offset, n);
    return static_cast<int64_t>(n);
}

TEST(Sources, ASourceReplacedBetweenPiecesFailsCleanly) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("grey.kvl");
    const std::vector<uint8_t> grey = capi_test::make_file(path, 1, 2, 200, 160, 8);
    const std::vector<uint8_t> colour = capi_test::make_file(dir.path("c.kvl"), 3, 2, 200, 160, 9);
    const kavel_window w{0, 0, 199, 159};
    const auto expected = reference_pixels(path, 0, w, 1, 200);
    int old_bytes = 0, changed = 0;
    for (int reads = 1; reads <= 12; ++reads) {
        SwappingReader swapping{&grey, &colour, reads};  // after the read at open
        const kavel_reader reader{&swapping, read_swapping, grey.size(), nullptr, nullptr};
        Opened opened;
        ASSERT_EQ(kavel_open_reader(&reader, &opened.image), KAVEL_OK);
        // Four threads cut the window into four strips, each reading the header twice.
        const auto got = decode(opened.image, 0, w, 1, 200, 4, 0x33);
        if (got.status == KAVEL_OK) {
            EXPECT_EQ(got.pixels, expected) << reads;
            ++old_bytes;
        } else {
            EXPECT_EQ(got.status, KAVEL_ERROR_SOURCE_CHANGED) << reads << kavel_last_error();
            EXPECT_EQ(got.pixels, std::vector<uint8_t>(got.pixels.size(), 0x33)) << reads;
            ++changed;
        }
    }
    EXPECT_GT(changed, 5);
}

TEST(Sources, SizesAndScaleForSize) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("odd.kvl");
    capi_test::make_file(path, 1, 2, 101, 75, 3);
    Opened opened;
    ASSERT_EQ(kavel_open_path(path.c_str(), &opened.image), KAVEL_OK);
    int32_t w = 0, h = 0;
    ASSERT_EQ(kavel_size_at(opened.image, 1, &w, &h), KAVEL_OK);
    EXPECT_EQ(w, 51);
    EXPECT_EQ(h, 38);
    ASSERT_EQ(kavel_size_at(opened.image, 2, &w, &h), KAVEL_OK);
    EXPECT_EQ(w, 26);
    EXPECT_EQ(h, 19);
    EXPECT_EQ(kavel_size_at(opened.image, 3, &w, &h), KAVEL_ERROR_ARGUMENT);
    EXPECT_EQ(kavel_scale_for_size(opened.image, 26, 19), 2);
    EXPECT_EQ(kavel_scale_for_size(opened.image, 27, 19), 1);
    EXPECT_EQ(kavel_scale_for_size(opened.image, 51, 38), 1);
    EXPECT_EQ(kavel_scale_for_size(opened.image, 60, 10), 0);
    EXPECT_EQ(kavel_scale_for_size(opened.image, 1000, 1000), 0);
}

}  // namespace

TEST(Sources, AReaderIsClosedOnceWhetherOpeningSucceedsOrFails) {
    capi_test::CountingReader bad;
    bad.bytes = {'n', 'o', 't', ' ', 'k', 'a', 'v', 'e', 'l', 0, 0, 0, 0, 0, 0, 0,
                 0,   0,   0,   0,   0,   0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0};
    const kavel_reader reader = bad.reader();
    kavel_image* image = nullptr;
    EXPECT_EQ(kavel_open_reader(&reader, &image), KAVEL_ERROR_NOT_KAVEL);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(bad.closed, 1);

    // Refused before the reader is taken: not closed.
    kavel_reader no_read = bad.reader();
    no_read.read_at = nullptr;
    EXPECT_EQ(kavel_open_reader(&no_read, &image), KAVEL_ERROR_ARGUMENT);
    EXPECT_EQ(bad.closed, 1);
}
