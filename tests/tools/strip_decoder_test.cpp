// Decoding in strips on several threads hands the writer exactly the one-call decode's rows.
#include "tools/strip_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_files.h"

namespace {

using kavel_test::TempDir;

// Keeps the rows it is given; refuses the row numbered fail_at (if any).
class CollectingWriter : public RowWriter {
  public:
    CollectingWriter(size_t row_bytes, int fail_at = -1)
        : row_bytes_(row_bytes), fail_at_(fail_at) {}
    bool write_row(const uint8_t* row, std::string* error) override {
        if (rows_ == fail_at_) {
            *error = "disk full";
            return false;
        }
        pixels.insert(pixels.end(), row, row + row_bytes_);
        ++rows_;
        return true;
    }
    bool finish(std::string*) override { return true; }
    std::vector<uint8_t> pixels;

  private:
    size_t row_bytes_;
    int fail_at_;
    int rows_ = 0;
};

TEST(DecodeInStrips, RowsMatchOneDecodeForAnyStripAndThreadCount) {
    TempDir dir;
    const std::string path = dir.path("c.kvl");
    kavel_test::write_file(kavel_test::random_file(3, 3, 61, 83, 4), path);
    const auto image = kavel::Image::open(path);
    ASSERT_TRUE(image);
    for (const int32_t scale : {0, 1}) {
        const kavel::Window window =
            scale == 0 ? kavel::Window{-3, 2, 57, 82} : image->bounds_at(scale);
        std::vector<uint8_t> expected;
        ASSERT_TRUE(kavel_test::decode_window(path, scale, window.x0, window.y0, window.x1,
                                              window.y1, &expected, 3));
        for (const int64_t strip_rows : {1, 7, 16, 1000}) {
            for (const int threads : {1, 2, 3}) {
                CollectingWriter writer(static_cast<size_t>(window.columns()) * 3);
                std::string error;
                bool in_output = true;
                ASSERT_TRUE(decode_in_strips(*image, scale, window, strip_rows, threads, writer,
                                             &error, &in_output))
                    << error;
                EXPECT_FALSE(in_output);
                EXPECT_EQ(writer.pixels, expected) << "scale " << scale << ", " << strip_rows
                                                   << " rows, " << threads << " threads";
            }
        }
    }
}

TEST(DecodeInStrips, FailuresStopTheRowsAndSayWhere) {
    TempDir dir;
    const std::string path = dir.path("g.kvl");
    const auto bytes = kavel_test::write_file(kavel_test::random_file(1, 2, 40, 64, 9), path);
    const auto image = kavel::Image::open(path);
    ASSERT_TRUE(image);
    const kavel::Window window = image->bounds_at(0);

    // The writer fails at row 20: strips after it are not written.
    CollectingWriter refusing(40, 20);
    std::string error;
    bool in_output = false;
    EXPECT_FALSE(decode_in_strips(*image, 0, window, 8, 2, refusing, &error, &in_output));
    EXPECT_TRUE(in_output);
    EXPECT_EQ(error, "disk full");
    EXPECT_EQ(refusing.pixels.size(), size_t{20 * 40});

    // The file loses its tail after it was opened: the decode fails, nothing is written
    // beyond whole strips decoded before the failure.
    auto cut = bytes;
    cut.resize(cut.size() / 2);
    kavel_test::write_bytes(path, cut);
    CollectingWriter writer(40);
    error.clear();
    EXPECT_FALSE(decode_in_strips(*image, 0, window, 8, 2, writer, &error, &in_output));
    EXPECT_FALSE(in_output);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(writer.pixels.size() % (8 * 40), size_t{0});
    EXPECT_LT(writer.pixels.size(), size_t{64 * 40});
}

}  // namespace
