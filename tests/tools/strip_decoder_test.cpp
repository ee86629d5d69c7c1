// Decoding in strips on several threads hands the writer exactly the one-call decode's rows.
#include "tools/strip_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "format/strip_cuts.h"
#include "tests/support/test_files.h"

namespace {

using kavel_test::TempDir;

// Keeps the bytes it is given; refuses anything at or past row fail_at (if any).
class CollectingWriter : public RowWriter {
  public:
    CollectingWriter(size_t row_bytes, int fail_at = -1)
        : row_bytes_(row_bytes), fail_at_(fail_at) {}
    bool write(const uint8_t* bytes, size_t count, std::string* error) override {
        if (fail_at_ >= 0 && pixels.size() + count > row_bytes_ * size_t(fail_at_)) {
            *error = "disk full";
            return false;
        }
        pixels.insert(pixels.end(), bytes, bytes + count);
        return true;
    }
    bool finish(std::string*) override { return true; }
    std::vector<uint8_t> pixels;

  private:
    size_t row_bytes_;
    int fail_at_;
};

TEST(DecodeInStrips, RowsMatchOneDecodeForAnyStripAndThreadCount) {
    TempDir dir;
    const std::string path = dir.path("c.kvl");
    kavel_test::write_file(kavel_test::random_file(3, 3, 61, 83, 4), path);
    const kavel::Image image = kavel::Image::open(path);
    for (const int32_t scale : {0, 1}) {
        const kavel::Window window =
            scale == 0 ? kavel::Window{-3, 2, 57, 82} : image.bounds_at(scale);
        std::vector<uint8_t> expected;
        ASSERT_TRUE(kavel_test::decode_window(path, scale, window.x0, window.y0, window.x1,
                                              window.y1, &expected, 3));
        // Strips of whole rows, and rows cut across the width into pieces of 23 columns
        // (rows are then taken one at a time, whatever the plan's row count).
        const int64_t width = kavel::columns(window);
        const PiecePlan plans[] = {{1, width},      {7, width},    {16, width},
                                   {1000, width},   {4, 23},       {5, width, 2},
                                   {6, width, 13}, {4, 23, 3}};
        for (const PiecePlan& plan : plans) {
            for (const int threads : {1, 2, 3}) {
                CollectingWriter writer(static_cast<size_t>(width) * 3);
                std::string error;
                bool in_output = true;
                ASSERT_TRUE(decode_in_strips(image, scale, window, plan, threads, writer,
                                             &error, &in_output))
                    << error;
                EXPECT_FALSE(in_output);
                EXPECT_EQ(writer.pixels, expected)
                    << "scale " << scale << ", pieces of " << plan.rows << " x " << plan.columns
                    << ", " << threads << " threads";
            }
        }
    }
}

TEST(DecodeInStrips, FailuresStopTheRowsAndSayWhere) {
    TempDir dir;
    const std::string path = dir.path("g.kvl");
    const auto bytes = kavel_test::write_file(kavel_test::random_file(1, 2, 40, 64, 9), path);
    const kavel::Image image = kavel::Image::open(path);
    const kavel::Window window = image.bounds_at(0);

    // The writer fails at row 20: strips after it are not written.
    CollectingWriter refusing(40, 20);
    std::string error;
    bool in_output = false;
    EXPECT_FALSE(decode_in_strips(image, 0, window, {8, 40}, 2, refusing, &error, &in_output));
    EXPECT_TRUE(in_output);
    EXPECT_EQ(error, "disk full");
    EXPECT_EQ(refusing.pixels.size(), size_t{16 * 40});

    // The file loses its tail after it was opened: the decode fails, nothing is written
    // beyond whole strips decoded before the failure.
    auto cut = bytes;
    cut.resize(cut.size() / 2);
    kavel_test::write_bytes(path, cut);
    CollectingWriter writer(40);
    error.clear();
    EXPECT_FALSE(decode_in_strips(image, 0, window, {8, 40}, 2, writer, &error, &in_output));
    EXPECT_FALSE(in_output);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(writer.pixels.size() % (8 * 40), size_t{0});
    EXPECT_LT(writer.pixels.size(), size_t{64 * 40});
}

// Pieces stay within a few million samples whatever the shape: long rows are cut across
// the width, and no piece is taller than asked.
TEST(DecodeInStrips, PiecesAreBoundedInSamplesForAnyShape) {
    struct Shape {
        int64_t columns;
        int32_t planes;
    };
    for (const Shape shape : {Shape{70, 3}, Shape{int64_t{1} << 24, 1}, Shape{2147483647, 3},
                              Shape{2147483647, 255}, Shape{kPieceSamples, 1}}) {
        const PiecePlan plan = plan_pieces(shape.columns, shape.planes, 1 << 20);
        EXPECT_LE(plan.rows * std::min(plan.columns, shape.columns) * shape.planes,
                  kPieceSamples)
            << shape.columns << " x " << shape.planes;
        EXPECT_GE(plan.rows, 1);
        EXPECT_GE(plan.columns, 1);
    }
    EXPECT_EQ(plan_pieces(70, 3, 1 << 20).columns, 70);
    EXPECT_EQ(plan_pieces(1 << 20, 1, 5).rows, 2);
    EXPECT_EQ(plan_pieces(1000, 1, 5).rows, 5);
}

// Strips placed for the decode: two periods or one high (at most four times the samples on
// one thread, twice on more) when fewer rows fit, never beyond the rows asked for, and rows cut
// across the width stay as they were.
TEST(DecodeInStrips, PlacedStripsStayBounded) {
    for (const int threads : {1, 2, 4}) {
        const int64_t cap = threads == 1 ? 4 * kPieceSamples : 2 * kPieceSamples;
        for (const int64_t columns : {int64_t{8192}, int64_t{20000}, int64_t{70}}) {
            for (const int32_t planes : {1, 3}) {
                const PiecePlan plan = plan_pieces(columns, planes, 1024, 7, 0, 8, threads);
                EXPECT_LE(std::max(plan.rows, plan.first_rows) * columns * planes, cap)
                    << columns << " x " << planes << ", " << threads << " threads";
                EXPECT_GE(plan.first_rows, 1);
                EXPECT_LE(plan.first_rows, std::max<int64_t>(plan.rows, kStripPeriod));
            }
        }
    }
    EXPECT_EQ(plan_pieces(8192, 3, 1024, 0, 0, 8, 1).rows, 2 * kStripPeriod);
    EXPECT_EQ(plan_pieces(8192, 3, 1024, 0, 0, 8, 2).rows, kStripPeriod);
    EXPECT_EQ(plan_pieces(1000, 1, 5, 0, 0, 8, 1).rows, 5);
    const PiecePlan cut_rows = plan_pieces(int64_t{1} << 24, 1, 1024, 0, 0, 8, 1);
    EXPECT_EQ(cut_rows.rows, 1);
    EXPECT_EQ(cut_rows.first_rows, 0);
}

}  // namespace
