// Forward transform of the encoder: colour transform and 9/7 lifting analysis, the exact
// inverses of the reader's colour conversion and synthesis.
//
// Analysis of one line X[0..N-1] (no scaling step, as the reader has none):
//   d += alpha (s + s'), s += beta (d + d'), d += gamma (s + s'), s += delta (d + d')
// where s are the even samples, d the odd samples and the primes the next (for d) or previous
// (for s) neighbour, with whole-sample symmetric extension about both end samples (applied
// repeatedly for lines too short for one reflection). Afterwards the even samples form the low
// band (ceil(N/2) values), the odd samples the high band (floor(N/2)). A line of one sample is
// left as it is.
//
// A band is analysed along its rows first, then along its columns, so that the reader's
// synthesis (columns first, then rows) undoes it. Only the low-low band is split again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "encode/band_geometry.h"

namespace kavel {

// One plane of W x H floats, row-major. After forward_wavelet the plane holds the subbands in
// the usual nested layout: the band at scale d - 1 occupies the top-left corner, its low
// columns on the left and its low rows on top (see subband_rect).
struct Plane {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<float> samples;
    float* row(int32_t y) { return samples.data() + std::size_t(y) * std::size_t(width); }
    const float* row(int32_t y) const {
        return samples.data() + std::size_t(y) * std::size_t(width);
    }
};

// Where subband k lies in a transformed plane: columns x0.., rows y0.., size width x height.
struct SubbandRect {
    int32_t x0 = 0, y0 = 0, width = 0, height = 0;
};
SubbandRect subband_rect(int32_t width, int32_t height, int32_t levels, int32_t subband);

// Analyses one line in place: n samples stride floats apart become the low band followed by
// the high band (same positions). scratch must hold n floats.
void analyse_line(float* line, std::ptrdiff_t stride, int32_t n, float* scratch);

// L levels of analysis in place.
void forward_wavelet(Plane* plane, int32_t levels);

// The reader's colour conversion is RGB = M (Y, I, Q); this is M's inverse (row-major 3x3),
// computed once in double precision from the reader's single-precision constants.
const double* forward_colour_matrix();

}  // namespace kavel
