#include "encode/band_geometry.h"

#include <bit>

namespace kavel {

namespace {

float gain_factor(bool high) {
    return high ? std::bit_cast<float>(uint32_t{0x3F5EAF75})
                : std::bit_cast<float>(uint32_t{0x3F932639});
}

}  // namespace

int32_t subband_count(int32_t levels) { return levels < 0 ? 0 : 3 * levels + 1; }

BandSize child_band_size(BandSize band, int32_t child) {
    const int32_t low_w = band.width - band.width / 2;
    const int32_t low_h = band.height - band.height / 2;
    const int32_t high_w = band.width / 2;
    const int32_t high_h = band.height / 2;
    const bool horizontal_high = (child & 2) != 0;
    const bool vertical_high = (child & 1) != 0;
    return {horizontal_high ? high_w : low_w, vertical_high ? high_h : low_h};
}

BandSize band_size_at_scale(int32_t width, int32_t height, int32_t scale) {
    BandSize band{width, height};
    for (int32_t s = 0; s < scale; ++s) band = child_band_size(band, 0);
    return band;
}

SubbandPosition subband_position(int32_t subband, int32_t levels) {
    if (levels < 0 || subband < 0 || subband > 3 * levels) return {-1, -1};
    if (subband == 0) return {levels, 0};
    const int32_t index = subband - 1;
    const int32_t level = levels - index / 3;
    static constexpr int32_t kChildOfM[3] = {2, 1, 3};
    return {level, kChildOfM[index % 3]};
}

int32_t subband_number(int32_t level, int32_t child, int32_t levels) {
    if (levels < 0 || child < 0 || child > 3) return -1;
    if (child == 0) return level == levels ? 0 : -1;
    if (level < 1 || level > levels) return -1;
    const int32_t m = child == 2 ? 0 : child == 1 ? 1 : 2;
    return 1 + 3 * (levels - level) + m;
}

BandSize subband_size(int32_t width, int32_t height, int32_t levels, int32_t subband) {
    const SubbandPosition where = subband_position(subband, levels);
    if (where.level < 0) return {0, 0};
    if (levels == 0) return {width, height};
    const BandSize parent = band_size_at_scale(width, height, where.level - 1);
    return child_band_size(parent, where.child);
}

std::vector<BandSize> subband_sizes(int32_t width, int32_t height, int32_t levels) {
    std::vector<BandSize> sizes;
    for (int32_t k = 0; k < subband_count(levels); ++k)
        sizes.push_back(subband_size(width, height, levels, k));
    return sizes;
}

float subband_gain(int32_t levels, int32_t subband) {
    const SubbandPosition where = subband_position(subband, levels);
    if (where.level < 0) return 0.0f;
    // The low-low path down to the parent of the subband, then the subband's own child.
    float gain = 1.0f;
    const int32_t low_splits = levels == 0 ? 0 : where.level - 1;
    for (int32_t s = 0; s < low_splits; ++s)
        gain = static_cast<float>(double(gain) * double(gain_factor(false)) *
                                  double(gain_factor(false)));
    if (levels > 0) {
        const double h = gain_factor((where.child & 2) != 0);
        const double v = gain_factor((where.child & 1) != 0);
        gain = static_cast<float>(double(gain) * h * v);
    }
    return gain;
}

}  // namespace kavel
