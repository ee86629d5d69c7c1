// The size of a coded file as a function of the nominal step, modelled from the coefficients.
//
// For every tile and plane the model keeps a histogram of |coefficient| / (effective step at
// nominal step 1), in eighths of an octave: at nominal step S each value becomes u = v / S, and
// the model prices it at rate_bits(u) (nothing below the dead zone, then a few bits for the
// symbol, the sign and the run before it, plus the magnitude's logarithm). The model's own
// scale is not to be trusted (the coder drops tiles, picks other steps per tile, prunes
// values): one coding at a step S0 calibrates it tile by tile, and the size at any other step
// is then predicted as the coded bits at S0 times model(S) / model(S0).
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kavel {

class MagnitudeHistogram {
  public:
    static constexpr int kBinsPerOctave = 8;
    static constexpr int kLowestOctave = -12;  // values below 2^-12 count as zero
    static constexpr int kOctaves = 36;        // up to 2^24
    static constexpr int kBins = kBinsPerOctave * kOctaves;

    // Adds one magnitude (>= 0).
    void add(float magnitude);
    // Modelled bits of the tile at nominal step S (uncalibrated).
    double model_bits(double step) const;

  private:
    std::array<uint32_t, kBins> counts_{};
};

// Modelled bits of one value of magnitude u (in steps).
double rate_bits(double u);

// Predicts the file size at any step after one coding (calibration) at step S0.
class RateModel {
  public:
    // tiles: one histogram per tile and plane; fixed_bytes: what does not depend on the step
    // (header, pointer table, directories).
    RateModel(std::vector<MagnitudeHistogram> tiles, double fixed_bytes);

    // Before any coding: bytes at step S with the model's own scale times prior_scale.
    double uncalibrated_bytes(double step, double prior_scale) const;
    // Takes the bits each tile's coding at step S0 gave (0: the tile was left out).
    void calibrate(double step, const std::vector<double>& coded_bits, double fixed_bytes);
    // Predicted size in bytes at step S (after calibrate).
    double predicted_bytes(double step) const;

    // The step whose predicted size is target_bytes (bisection on log(step) between
    // lowest and highest, a function decreasing with the step).
    template <typename Size>
    static double solve(const Size& size, double target_bytes, double lowest, double highest);

  private:
    std::vector<MagnitudeHistogram> tiles_;
    double fixed_bytes_ = 0;
    std::vector<double> coded_bits_;  // at the calibration step
    std::vector<double> model_at_calibration_;
    double global_scale_ = 1.0;  // coded bits / model bits over every coded tile
};

template <typename Size>
double RateModel::solve(const Size& size, double target_bytes, double lowest, double highest) {
    double lo = lowest, hi = highest;  // size(lo) >= target >= size(hi) is hoped for
    if (size(lo) <= target_bytes) return lo;
    if (size(hi) >= target_bytes) return hi;
    for (int i = 0; i < 60 && hi / lo > 1.0001; ++i) {
        const double mid = std::sqrt(lo * hi);
        (size(mid) > target_bytes ? lo : hi) = mid;
    }
    return std::sqrt(lo * hi);
}

}  // namespace kavel
