// Geometry of the wavelet decomposition as a Kavel file lays it out.
//
// The image band (W x H) is split L times; only the low-low child is split again.
// Splitting a band of w x h gives four children, numbered by two bits
// (bit 1 = horizontally high-pass, bit 0 = vertically high-pass):
//
//   child  horizontal  vertical  size
//   0      low         low       ceil(w/2)  x ceil(h/2)
//   1      low         high      ceil(w/2)  x floor(h/2)
//   2      high        low       floor(w/2) x ceil(h/2)
//   3      high        high      floor(w/2) x floor(h/2)
//
// Subband numbers: 0 is the final low-low band; for each level d from the coarsest (d = L) to
// the finest (d = 1) the three high-pass subbands follow as 1 + 3(L - d) + m, with m = 0 for
// child 2, m = 1 for child 1 and m = 2 for child 3. Level d is the split of the low-low band
// of scale d - 1 (the image at ratio 1 : 2^(d-1)).
#pragma once

#include <cstdint>
#include <vector>

namespace kavel {

struct BandSize {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const BandSize&) const = default;
};

// Where a subband sits in the decomposition: the level d (1..L) whose split made it, and the
// child number 0..3 of that split. Subband 0 is child 0 of level L (level 0 when L = 0: the
// image band itself).
struct SubbandPosition {
    int32_t level = 0;
    int32_t child = 0;
    bool operator==(const SubbandPosition&) const = default;
};

// Largest level count a Kavel file can describe sensibly (the reader refuses more).
constexpr int32_t kMaxLevelCount = 31;

// 3L + 1.
int32_t subband_count(int32_t levels);

// Size of child c (0..3) of a band.
BandSize child_band_size(BandSize band, int32_t child);

// The low-low band after s splits: ceil(W / 2^s) x ceil(H / 2^s) (the image at scale s).
BandSize band_size_at_scale(int32_t width, int32_t height, int32_t scale);

// Subband number -> (level, child); number outside 0..3L gives {-1, -1}.
SubbandPosition subband_position(int32_t subband, int32_t levels);
// (level, child) -> subband number; child 0 only for level L; invalid gives -1.
int32_t subband_number(int32_t level, int32_t child, int32_t levels);

// Size of subband k of a W x H image with L levels.
BandSize subband_size(int32_t width, int32_t height, int32_t levels, int32_t subband);
// Sizes of all 3L + 1 subbands, indexed by subband number.
std::vector<BandSize> subband_sizes(int32_t width, int32_t height, int32_t levels);

// The gain the reader gives subband k: the image band has gain 1.0 and child c of a band with
// gain g has g x f(horizontal) x f(vertical), f(low) = 1.149604, f(high) = 0.86986476, the
// product formed in double precision and rounded to single precision once per band, exactly
// as the reader forms it. At scale 0 a stored step S dequantises with the step S / gain.
float subband_gain(int32_t levels, int32_t subband);

// The per-scale step divisor c = 1.5133294761940657: a subband read at scale s is dequantised
// with ((1 / c^s) / gain) x step.
constexpr double kScaleStepDivisor = 1.5133294761940657;

}  // namespace kavel
