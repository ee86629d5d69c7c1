#include "format/strip_cuts.h"

#include <algorithm>

namespace {

// Integer halvings as the region walk makes them (up for the first needed row, down for the
// last), and the floor of a division, for possibly negative numerators.
int64_t half_up(int64_t value) { return value >= 0 ? (value + 1) / 2 : value / 2; }
int64_t half_down(int64_t value) { return value / 2; }
int64_t floor_div(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return quotient * divisor > value ? quotient - 1 : quotient;
}

// Levels below the scale whose cost is counted: deeper ones hold a few rows.
constexpr int32_t kCountedLevels = 5;

// Band rows decoded by both strips of a cut between image rows y - 1 and y, weighted by the
// bands' widths (halved at every level).
int64_t cut_cost(int64_t y, int32_t scale, int32_t levels) {
    int64_t above_last = y - 1;  // last row the strip above needs of the low band
    int64_t below_first = y;     // first row the strip below needs of it
    int64_t cost = 0;
    const int32_t counted = std::min(levels - scale, kCountedLevels);
    for (int32_t l = 1; l <= counted; ++l) {
        const int64_t block = scale + l == 1 ? 64 : 32;
        const int64_t weight = int64_t{1} << (kCountedLevels - l);
        // One subband of low rows and two of high rows (the low-low band goes on down).
        for (const bool high : {false, true}) {
            const int64_t first = half_up(below_first - (high ? 5 : 3));
            const int64_t last = half_down(above_last + 3);
            const int64_t block_start = floor_div(first, block) * block;
            cost += std::max<int64_t>(0, last - block_start + 1) * weight * (high ? 2 : 1);
        }
        below_first = half_up(below_first - 3);
        above_last = half_down(above_last + 3);
    }
    return cost;
}

}  // namespace

int64_t strip_cut_phase(int32_t scale, int32_t levels) {
    // Cuts a period apart meet the deeper levels' blocks at different rows: the phase is
    // judged on eight cuts in a row.
    constexpr int64_t kJudgedCuts = 8;
    int64_t best = 0;
    int64_t best_cost = -1;
    for (int64_t phase = 0; phase < kStripPeriod; ++phase) {
        int64_t cost = 0;
        for (int64_t k = 0; k < kJudgedCuts; ++k) {
            cost += cut_cost(phase + k * kStripPeriod, scale, levels);
        }
        if (best_cost < 0 || cost < best_cost) {
            best = phase;
            best_cost = cost;
        }
    }
    return best;
}

int64_t placed_strip_rows(int64_t row_samples, int64_t budget, int64_t cap) {
    row_samples = std::max<int64_t>(row_samples, 1);
    const int64_t rows = budget / row_samples;
    if (rows >= 2 * kStripPeriod) return rows;
    for (const int64_t periods : {2, 1}) {
        if (rows < periods * kStripPeriod && row_samples <= cap / (periods * kStripPeriod)) {
            return periods * kStripPeriod;
        }
    }
    return rows;
}

StripRows strip_rows(int64_t window_top, int64_t max_rows, int64_t phase) {
    max_rows = std::max<int64_t>(max_rows, 1);
    if (max_rows < kStripPeriod) return StripRows{max_rows, max_rows};
    const int64_t rows = max_rows / kStripPeriod * kStripPeriod;
    // The last cut on the phase within max_rows of the top (there is one: max_rows spans a
    // period).
    const int64_t limit = window_top + max_rows;
    const int64_t next = limit - (((limit - phase) % kStripPeriod) + kStripPeriod) % kStripPeriod;
    return StripRows{next - window_top, rows};
}
