// Inverse 9/7 lifting reconstruction of region trees, and the colour transform.
#pragma once

#include <cstdint>

#include "format/region_request.h"

// Lifting constants (single precision): alpha 0xBFCB0670, beta 0xBD59018E, gamma 0x3F620675,
// delta 0x3EE31359.
struct LiftingConstants {
    float alpha, beta, gamma, delta;
};
LiftingConstants lifting_constants();

int reconstruct_region(RegionNode* node);
int synthesise_node(RegionNode* node);
int make_half_node(RegionNode** half, const RegionNode* parent, const RegionNode* child);
// Writes X[a..b] of the line whose low band (nL values) and high band (nH values) are read
// from low and high, stride floats apart. low points at the stored low value of index
// max(0, ceil((a-3)/2)), high at the stored high value of index max(0, ceil((a-5)/2)).
void synthesise_line(float* output, int32_t a, int32_t b, const float* low, const float* high,
                     int32_t stride, int32_t nL, int32_t nH);
void convert_colours(RegionNode* r0, RegionNode* r1, RegionNode* r2);
void release_region(RegionNode* node);
