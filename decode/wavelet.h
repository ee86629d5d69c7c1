// Inverse 9/7 lifting reconstruction of region trees, and the colour transform.
#pragma once

#include <bit>
#include <cstdint>

#include "decode/decoder_override.h"
#include "format/region_request.h"

// Lifting constants (single precision): alpha 0xBFCB0670, beta 0xBD59018E, gamma 0x3F620675,
// delta 0x3EE31359.
struct LiftingConstants {
    float alpha, beta, gamma, delta;
};
LiftingConstants lifting_constants();

// Reconstructs a region tree into its root's coefficients, bottom up; with a decoder override,
// its synthesis stands in for synthesise_node.
int reconstruct_region(RegionNode* node, const DecoderOverride* decoder = nullptr);
// Reconstructs the children of a split node (each into a node of coefficients), leaving the
// node itself to be synthesised.
int reconstruct_children(RegionNode* node, const DecoderOverride* decoder = nullptr);
int synthesise_node(RegionNode* node);

// A split node whose children hold coefficients is synthesised in tiles of at most kTileRows
// rows by kTileColumns columns, each made while its inputs are in the cache.
constexpr int32_t kTileRows = 64;
constexpr int32_t kTileColumns = 1024;
struct TileSynthesis {
    const RegionNode* node = nullptr;
    float* half_tiles[2] = {nullptr, nullptr};  // the two half nodes' columns of a tile
    double* work = nullptr;                     // the vertical pass's working rows
    int32_t tile_pitch = 0;                     // floats per row of a half tile
};
// Checks that the node's children fit together and takes the tiles' memory from the pool:
// 0, or 1 (then nothing is held).
int begin_tile_synthesis(const RegionNode* node, TileSynthesis* synthesis);
// Synthesises rows top..bottom and columns first..last of the node (its own coordinates; at
// most one tile) into out, rows out_pitch floats apart.
void synthesise_tile(const TileSynthesis& synthesis, int32_t top, int32_t bottom, int32_t first,
                     int32_t last, float* out, int64_t out_pitch);
void end_tile_synthesis(TileSynthesis* synthesis);
int make_half_node(RegionNode** half, const RegionNode* parent, const RegionNode* child);
// Writes X[a..b] of the line whose low band (nL values) and high band (nH values) are read
// from low and high, stride floats apart. low points at the stored low value of index
// max(0, ceil((a-3)/2)), high at the stored high value of index max(0, ceil((a-5)/2)).
void synthesise_line(float* output, int32_t a, int32_t b, const float* low, const float* high,
                     int32_t stride, int32_t nL, int32_t nH);
void convert_colours(RegionNode* r0, RegionNode* r1, RegionNode* r2);

// The colour transform of one sample: Y, I and Q to R, G and B, each computed in double
// precision from single-precision factors and rounded to single once.
struct ColourSample {
    float r, g, b;
};
inline ColourSample colour_of(float y_value, float i_value, float q_value) {
    constexpr double qr = std::bit_cast<float>(uint32_t{0x3F21F9AE});  //  205/324
    constexpr double ir = std::bit_cast<float>(uint32_t{0xBF71F9AE});  // -1225/1296
    constexpr double qg = std::bit_cast<float>(uint32_t{0xBF1A12F7});  // -65/108
    constexpr double ig = std::bit_cast<float>(uint32_t{0x3E9425ED});  //  125/432
    constexpr double qb = std::bit_cast<float>(uint32_t{0x3FDB425F});  //  185/108
    constexpr double ib = std::bit_cast<float>(uint32_t{0x3F8CBDA1});  //  475/432
    const double y = y_value;
    const double iv = i_value;
    const double qv = q_value;
    return ColourSample{static_cast<float>((qr * qv - ir * iv) + y),
                        static_cast<float>(y + (qg * qv - ig * iv)),
                        static_cast<float>(y + (qb * qv - ib * iv))};
}
void release_region(RegionNode* node);
