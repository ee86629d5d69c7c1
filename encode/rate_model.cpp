#include "encode/rate_model.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kavel {

namespace {

// The bin of a float's magnitude: its exponent and the top three bits of its mantissa.
constexpr uint32_t kLowestKey = uint32_t(127 + MagnitudeHistogram::kLowestOctave) << 3;

// The middle of bin b, in steps at nominal step 1.
double bin_value(int bin) {
    const int octave = bin / MagnitudeHistogram::kBinsPerOctave + MagnitudeHistogram::kLowestOctave;
    const int eighth = bin % MagnitudeHistogram::kBinsPerOctave;
    return std::ldexp(1.0 + (eighth + 0.5) / MagnitudeHistogram::kBinsPerOctave, octave);
}

}  // namespace

void MagnitudeHistogram::add(float magnitude) {
    const uint32_t key = std::bit_cast<uint32_t>(magnitude) >> 20;  // sign bit is 0
    const uint32_t bin = key < kLowestKey ? 0 : key - kLowestKey;
    ++counts_[bin < uint32_t(kBins) ? bin : uint32_t(kBins - 1)];
}

double rate_bits(double u) {
    // Values near the dead zone are kept or dropped by the dither and by the rate-distortion
    // pass: a ramp rather than a step, which also keeps the modelled size continuous.
    constexpr double kZero = 0.4, kFull = 1.0, kSymbol = 3.0;
    const double full = kSymbol + std::log2(std::max(u, kFull) + 0.5);
    if (u >= kFull) return full;
    return u <= kZero ? 0.0 : full * (u - kZero) / (kFull - kZero);
}

double MagnitudeHistogram::model_bits(double step) const {
    const double inverse = 1.0 / step;
    double bits = 0;
    for (int b = 1; b < kBins; ++b)
        if (counts_[std::size_t(b)] != 0)
            bits += counts_[std::size_t(b)] * rate_bits(bin_value(b) * inverse);
    return bits;
}

RateModel::RateModel(std::vector<MagnitudeHistogram> tiles, double fixed_bytes)
    : tiles_(std::move(tiles)), fixed_bytes_(fixed_bytes) {}

double RateModel::uncalibrated_bytes(double step, double prior_scale) const {
    double bits = 0;
    for (const MagnitudeHistogram& tile : tiles_) bits += tile.model_bits(step);
    return fixed_bytes_ + prior_scale * bits / 8.0;
}

void RateModel::calibrate(double step, const std::vector<double>& coded_bits,
                          double fixed_bytes) {
    fixed_bytes_ = fixed_bytes;
    coded_bits_ = coded_bits;
    coded_bits_.resize(tiles_.size(), 0.0);
    model_at_calibration_.assign(tiles_.size(), 0.0);
    double coded = 0, modelled = 0;
    for (std::size_t t = 0; t < tiles_.size(); ++t) {
        model_at_calibration_[t] = tiles_[t].model_bits(step);
        if (coded_bits_[t] > 0 && model_at_calibration_[t] > 0) {
            coded += coded_bits_[t];
            modelled += model_at_calibration_[t];
        }
    }
    global_scale_ = modelled > 0 ? coded / modelled : 1.0;
}

double RateModel::predicted_bytes(double step) const {
    double bits = 0;
    for (std::size_t t = 0; t < tiles_.size(); ++t) {
        const double model = tiles_[t].model_bits(step);
        if (coded_bits_[t] > 0 && model_at_calibration_[t] > 0) {
            bits += coded_bits_[t] * model / model_at_calibration_[t];
        } else {
            // Left out (or modelled as empty) at S0: only what the model adds below S0 counts.
            bits += global_scale_ * std::max(0.0, model - model_at_calibration_[t]);
        }
    }
    return fixed_bytes_ + bits / 8.0;
}

}  // namespace kavel
