// Each class of failure comes back with its status and a message naming the reason, and a
// failed decode leaves the buffer as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kavel/kavel.h"
#include "tests/capi/capi_files.h"

namespace {

std::vector<uint8_t> header(int32_t planes, int32_t levels, int32_t width, int32_t height) {
    std::vector<uint8_t> bytes = {'k', 'v', 'e', 'l', 0, 0, 0};
    for (const int32_t v : {planes, levels, width, height}) {
        const auto u = static_cast<uint32_t>(v);
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(u >> shift));
    }
    return bytes;
}

bool mentions(const char* text) {
    return std::string(kavel_last_error()).find(text) != std::string::npos;
}

TEST(Errors, OpeningFailuresNameTheirClass) {
    kavel_image* image = reinterpret_cast<kavel_image*>(&image);
    EXPECT_EQ(kavel_open_path("/nonexistent/dir/x.kvl", &image), KAVEL_ERROR_IO);
    EXPECT_EQ(image, nullptr);
    EXPECT_TRUE(mentions("/nonexistent/dir/x.kvl")) << kavel_last_error();
    EXPECT_TRUE(mentions("No such file")) << kavel_last_error();

    kavel_test::TempDir dir;
    EXPECT_EQ(kavel_open_path(dir.path("").c_str(), &image), KAVEL_ERROR_IO);  // a folder

    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    EXPECT_EQ(kavel_open_memory(png.data(), png.size(), &image), KAVEL_ERROR_NOT_KAVEL);
    EXPECT_TRUE(mentions("kvel")) << kavel_last_error();
    EXPECT_EQ(kavel_open_memory(png.data(), 0, &image), KAVEL_ERROR_NOT_KAVEL);

    std::vector<uint8_t> cut = header(1, 0, 8, 8);
    cut.pop_back();
    EXPECT_EQ(kavel_open_memory(cut.data(), cut.size(), &image), KAVEL_ERROR_BAD_HEADER);
    EXPECT_TRUE(mentions("22 bytes")) << kavel_last_error();
    const std::vector<uint8_t> no_planes = header(0, 2, 8, 8);
    EXPECT_EQ(kavel_open_memory(no_planes.data(), no_planes.size(), &image),
              KAVEL_ERROR_BAD_HEADER);
    EXPECT_TRUE(mentions("planes 0")) << kavel_last_error();
    const std::vector<uint8_t> too_deep = header(1, 40, 8, 8);
    EXPECT_EQ(kavel_open_memory(too_deep.data(), too_deep.size(), &image),
              KAVEL_ERROR_BAD_HEADER);
    const std::string bad_path = dir.path("bad.kvl");
    kavel_test::write_bytes(bad_path, header(1, 0, -3, 8));
    EXPECT_EQ(kavel_open_path(bad_path.c_str(), &image), KAVEL_ERROR_BAD_HEADER);
    EXPECT_TRUE(mentions(bad_path.c_str())) << kavel_last_error();

    EXPECT_EQ(kavel_open_path(nullptr, &image), KAVEL_ERROR_ARGUMENT);
    EXPECT_EQ(kavel_open_path(bad_path.c_str(), nullptr), KAVEL_ERROR_ARGUMENT);
    EXPECT_EQ(kavel_open_memory(nullptr, 10, &image), KAVEL_ERROR_ARGUMENT);
    const kavel_reader no_read{nullptr, nullptr, 10, nullptr, nullptr};
    EXPECT_EQ(kavel_open_reader(&no_read, &image), KAVEL_ERROR_ARGUMENT);
    EXPECT_EQ(kavel_open_reader(nullptr, &image), KAVEL_ERROR_ARGUMENT);
    EXPECT_STREQ(kavel_status_string(KAVEL_ERROR_DAMAGED), "damaged data");
}

// A reader that fails every read.
int64_t read_failing(void*, uint64_t, void*, size_t) { return -1; }

TEST(Errors, DecodeFailuresNameTheirClassAndLeaveTheBuffer) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("image.kvl");
    std::vector<uint8_t> bytes = capi_test::make_file(path, 3, 2, 64, 48, 4);
    kavel_image* image = nullptr;
    ASSERT_EQ(kavel_open_memory(bytes.data(), bytes.size(), &image), KAVEL_OK);
    std::vector<uint8_t> buffer(64 * 48 * 3, 0x66);
    const std::vector<uint8_t> untouched = buffer;
    const kavel_window whole{0, 0, 63, 47};
    const auto expect = [&](kavel_status status, int32_t scale, kavel_window w, size_t stride,
                            const kavel_decode_options* options, const char* words) {
        EXPECT_EQ(kavel_decode(image, scale, w, buffer.data(), stride, options), status)
            << words << ": " << kavel_last_error();
        EXPECT_TRUE(mentions(words)) << kavel_last_error();
        EXPECT_EQ(buffer, untouched) << words;
    };
    expect(KAVEL_ERROR_ARGUMENT, -1, whole, 192, nullptr, "scale -1");
    expect(KAVEL_ERROR_ARGUMENT, 3, whole, 192, nullptr, "scale 3");
    expect(KAVEL_ERROR_ARGUMENT, 0, kavel_window{5, 0, 4, 10}, 192, nullptr, "empty");
    expect(KAVEL_ERROR_ARGUMENT, 0, whole, 191, nullptr, "stride");
    const kavel_decode_options no_size{0, 2};
    expect(KAVEL_ERROR_ARGUMENT, 0, whole, 192, &no_size, "struct_size");
    const kavel_decode_options negative{sizeof(kavel_decode_options), -2};
    expect(KAVEL_ERROR_ARGUMENT, 0, whole, 192, &negative, "thread");
    EXPECT_EQ(kavel_decode(nullptr, 0, whole, buffer.data(), 192, nullptr), KAVEL_ERROR_ARGUMENT);
    EXPECT_EQ(kavel_decode(image, 0, whole, nullptr, 192, nullptr), KAVEL_ERROR_ARGUMENT);

    kavel_limits limits{};
    kavel_default_limits(&limits);
    EXPECT_EQ(limits.memory, uint64_t{4} << 30);
    limits.max_pixels = 64 * 47;
    ASSERT_EQ(kavel_set_limits(image, &limits), KAVEL_OK);
    expect(KAVEL_ERROR_LIMIT, 0, whole, 192, nullptr, "limit of 3008 pixels");
    limits.work_factor = -1;
    EXPECT_EQ(kavel_set_limits(image, &limits), KAVEL_ERROR_ARGUMENT);
    kavel_close(image);

    // Limits: a tiny memory limit, a tiny work factor.
    ASSERT_EQ(kavel_open_memory(bytes.data(), bytes.size(), &image), KAVEL_OK);
    kavel_default_limits(&limits);
    limits.memory = 2000;
    ASSERT_EQ(kavel_set_limits(image, &limits), KAVEL_OK);
    expect(KAVEL_ERROR_OUT_OF_MEMORY, 0, whole, 192, nullptr, "memory limit of 2000 bytes");
    kavel_close(image);

    // The first tile directory's marker broken, then its tile count: damaged data, and the
    // message names the subband and the directory's offset.
    const uint32_t directory = (uint32_t{bytes[23]} << 24) | (uint32_t{bytes[24]} << 16) |
                               (uint32_t{bytes[25]} << 8) | bytes[26];
    ASSERT_LT(directory + 8, bytes.size());
    const std::string where = "subband 0, plane 0: tile directory at offset " +
                              std::to_string(directory) + ": ";
    std::vector<uint8_t> broken = bytes;
    broken[directory + 1] = 0x00;
    ASSERT_EQ(kavel_open_memory(broken.data(), broken.size(), &image), KAVEL_OK);
    expect(KAVEL_ERROR_DAMAGED, 0, whole, 192, nullptr, (where + "no 0xFF 0xAC").c_str());
    kavel_close(image);
    broken = bytes;
    broken[directory + 4] = 0x00;
    broken[directory + 5] = 0x01;  // 65536 + n records
    ASSERT_EQ(kavel_open_memory(broken.data(), broken.size(), &image), KAVEL_OK);
    expect(KAVEL_ERROR_DAMAGED, 0, whole, 192, nullptr, "records do not fit in the file");
    EXPECT_TRUE(mentions(where.c_str())) << kavel_last_error();
    kavel_close(image);
    // The file cut after its pointer table.
    ASSERT_EQ(kavel_open_memory(bytes.data(), 30, &image), KAVEL_OK);
    expect(KAVEL_ERROR_DAMAGED, 0, whole, 192, nullptr, "pointer table entry of subband");
    kavel_close(image);

    // A source that cannot be read.
    const kavel_reader failing{nullptr, read_failing, 1000, nullptr, nullptr};
    EXPECT_EQ(kavel_open_reader(&failing, &image), KAVEL_ERROR_IO);
    EXPECT_EQ(image, nullptr);
}

}  // namespace
