// Strips cut on the phase: every cut between two strips falls on it, no strip exceeds the
// rows allowed, and the strips cover the window; windows cut so give the one-piece bytes.
#include "format/strip_cuts.h"

#include <gtest/gtest.h>

#include <vector>

#include "format/window_decode.h"
#include "tests/format/written_file.h"

namespace {

int64_t modulo(int64_t value, int64_t period) { return ((value % period) + period) % period; }

TEST(StripCuts, CutsFallOnThePhaseWithinTheRowsAllowed) {
    for (const int32_t scale : {0, 1, 3}) {
        const int64_t phase = strip_cut_phase(scale, 8);
        ASSERT_GE(phase, 0);
        ASSERT_LT(phase, kStripPeriod);
        for (const int64_t top : {int64_t{-300}, int64_t{-1}, int64_t{0}, phase, phase + 1,
                                  int64_t{777}, int64_t{1} << 31}) {
            for (const int64_t max_rows : {kStripPeriod, kStripPeriod + 1, int64_t{300},
                                           int64_t{1024}}) {
                const StripRows strips = strip_rows(top, max_rows, phase);
                EXPECT_GE(strips.first, 1);
                EXPECT_LE(strips.first, max_rows);
                EXPECT_EQ(modulo(top + strips.first, kStripPeriod), phase);
                EXPECT_EQ(strips.rows % kStripPeriod, 0);
                EXPECT_GT(strips.rows, max_rows - kStripPeriod);
                EXPECT_LE(strips.rows, max_rows);
            }
        }
    }
    // Fewer rows than a period: strips of the rows allowed, wherever they fall.
    const StripRows short_strips = strip_rows(5, kStripPeriod - 1, 3);
    EXPECT_EQ(short_strips.first, kStripPeriod - 1);
    EXPECT_EQ(short_strips.rows, kStripPeriod - 1);
    EXPECT_EQ(strip_rows(5, 0, 3).rows, 1);
    // Rows placed: the budget's when they span two periods, else two periods or one within the
    // cap, else the budget's.
    EXPECT_EQ(placed_strip_rows(1000, 1000 * 300, 1000 * 300), 300);
    EXPECT_EQ(placed_strip_rows(1000, 1000 * 100, 1000 * 300), 2 * kStripPeriod);
    EXPECT_EQ(placed_strip_rows(1000, 1000 * 100, 1000 * 200), kStripPeriod);
    EXPECT_EQ(placed_strip_rows(1000, 1000 * 100, 1000 * 100), 100);
    EXPECT_EQ(placed_strip_rows(int64_t{1} << 40, 1000, int64_t{1} << 41), 0);
}

TEST(StripCuts, WindowsCutOnThePhaseGiveTheOnePieceBytes) {
    kavel_test::WrittenFile file(3, 4, 37, 611, 5);
    ASSERT_TRUE(file.header_read) << file.message;
    const ImageHeader& header = file.header;
    std::string message;
    for (const int32_t scale : {0, 1}) {
        const int32_t rows = scale == 0 ? 611 : 306;
        for (const PixelWindow& w : {PixelWindow{0, 0, 36, rows - 1},
                                     PixelWindow{-3, 9, 30, rows + 4}}) {
            const std::size_t size = static_cast<std::size_t>(w.columns() * w.rows()) * 3;
            std::vector<uint8_t> whole(size, 0x5A);
            WindowDecodeSettings one;
            one.piece_samples = int64_t{1} << 30;
            ASSERT_EQ(decode_window(file.source(), header, scale, w, whole.data(),
                                    static_cast<std::size_t>(w.columns()) * 3, one, &message),
                      DecodeStatus::ok)
                << message;
            // Strips of 128 and 256 rows on the phase (the first shorter), on 1 and 2 threads.
            for (const int64_t strip_rows_allowed : {int64_t{150}, int64_t{300}}) {
                for (const int32_t threads : {1, 2}) {
                    WindowDecodeSettings settings;
                    settings.piece_samples = strip_rows_allowed * w.columns() * 3;
                    settings.threads = threads;
                    std::vector<uint8_t> cut(size, 0xA5);
                    ASSERT_EQ(decode_window(file.source(), header, scale, w, cut.data(),
                                            static_cast<std::size_t>(w.columns()) * 3, settings,
                                            &message),
                              DecodeStatus::ok)
                        << message;
                    EXPECT_EQ(cut, whole) << "scale " << scale << ", strips of up to "
                                          << strip_rows_allowed << " rows, " << threads
                                          << " threads";
                }
            }
        }
    }
}

}  // namespace
