// decode_window cuts a window into pieces (of rows, and of columns when a row is long) and
// gives the same bytes however it is cut and on however many threads; a piece's rows never
// spill into the caller's other bytes.
#include "format/window_decode.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/format/written_file.h"

namespace {

TEST(PieceSize, RowsWhileSixteenFitThenColumns) {
    const PixelWindow wide{0, 0, 999999, 99};  // a million columns
    const PieceSize grey = piece_size(1, wide);
    EXPECT_EQ(grey.rows, kMinPieceRows);
    EXPECT_EQ(grey.columns, kPieceSamples / kMinPieceRows);
    const PieceSize colour = piece_size(3, wide);
    EXPECT_LE(colour.rows * colour.columns * 3, kPieceSamples);
    const PixelWindow square{0, 0, 4095, 4095};
    EXPECT_EQ(piece_size(1, square).columns, 4096);
    EXPECT_EQ(piece_size(1, square).rows, kPieceSamples / 4096);
    const PixelWindow small{0, 0, 99, 99};
    EXPECT_EQ(piece_size(1, small).rows, 100);
    EXPECT_EQ(piece_size(1, small, 4).rows, 25);  // a strip per thread
    EXPECT_EQ(piece_size(255, PixelWindow{0, 0, 0, 0}).columns, 1);
}

TEST(WindowDecode, AnyCutGivesTheSameBytesAndLeavesTheGapsBetweenRows) {
    kavel_test::WrittenFile file(3, 2, 150, 120, 77);
    ASSERT_TRUE(file.header_read) << file.message;
    const ImageHeader& header = file.header;
    std::string message;
    for (const PixelWindow& w : {PixelWindow{0, 0, 149, 119}, PixelWindow{-9, 7, 160, 125}}) {
        const std::size_t stride = static_cast<std::size_t>(w.columns()) * 3 + 7;
        const std::size_t size = stride * static_cast<std::size_t>(w.rows());
        std::vector<uint8_t> whole(size, 0xC3);
        ASSERT_EQ(decode_window(file.source(), header, 0, w, whole.data(), stride,
                                WindowDecodeSettings{}, &message),
                  DecodeStatus::ok)
            << message;
        for (std::size_t r = 0; r < static_cast<std::size_t>(w.rows()); ++r) {
            for (std::size_t k = static_cast<std::size_t>(w.columns()) * 3; k < stride; ++k) {
                ASSERT_EQ(whole[r * stride + k], 0xC3) << "row " << r;
            }
        }
        // 300 samples a piece: 16 rows of 6 columns; 1200: 16 rows of 25 columns.
        for (const int64_t samples : {int64_t{300}, int64_t{1200}}) {
            for (const int32_t threads : {1, 3}) {
                WindowDecodeSettings settings;
                settings.piece_samples = samples;
                settings.threads = threads;
                std::vector<uint8_t> cut(size, 0xC3);
                ASSERT_EQ(decode_window(file.source(), header, 0, w, cut.data(), stride, settings,
                                        &message),
                          DecodeStatus::ok)
                    << message;
                EXPECT_EQ(cut, whole) << samples << " samples, " << threads << " threads";
            }
        }
    }
}

}  // namespace
