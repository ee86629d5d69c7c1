// Where a window is cut into strips of whole rows. Every strip is decoded on its own, so a
// block of a subband that a cut crosses is entropy-decoded by both strips: the strip above
// decodes it from its first row down to the last row it needs. Cuts placed so that the strip
// below starts its needed rows at (or just after) the first row of a block row, in the finest
// subbands, leave the strip above only the few rows of overlap to decode twice.
//
// The block rows are taken to start at multiples of their height (the tile and block grids
// start at the band's corner, with tiles a multiple of the blocks high), with blocks 64 rows
// high in the finest level and 32 rows high below it, as files are usually written: in other
// files the cuts only cost what unplaced cuts cost. Any cut gives the same bytes.
#pragma once

#include <cstdint>

// Cuts fall on rows of the image at the decoded scale that are equal modulo this period
// (a block row of 64 band rows in the finest level spans 128 rows of the image).
constexpr int64_t kStripPeriod = 128;

// The row (0 <= phase < kStripPeriod, of the image at scale) at which cuts cost least.
int64_t strip_cut_phase(int32_t scale, int32_t levels);

// Rows for strips of rows of row_samples samples, budget samples wanted in each and at most
// cap taken: the budget's rows when they span two periods or more; otherwise two periods, or
// one, when they take at most cap samples (the gain of fewer cuts through the finest blocks
// is worth the memory); otherwise the budget's rows (perhaps none).
int64_t placed_strip_rows(int64_t row_samples, int64_t budget, int64_t cap);

// The rows of a window's strips, the first from the window's top and the rest one after the
// other: each at most max_rows (the last strip may be shorter still). When max_rows holds a
// period, every strip but the first and the last has a multiple of kStripPeriod rows and
// every cut falls on the phase; otherwise strips are max_rows high wherever they fall.
struct StripRows {
    int64_t first;  // rows of the first strip
    int64_t rows;   // rows of every later strip
};
StripRows strip_rows(int64_t window_top, int64_t max_rows, int64_t phase);
