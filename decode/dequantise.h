// Dequantisation with subtractive dither.
#pragma once

#include <cstdint>

#include "decode/decode_driver.h"
#include "format/region_request.h"

// The 128 x 128 dither table, row-major (row x 128 + column).
extern const float* const kDitherTable;

// Reconstruction offset 0.44 (single-precision bits 0x3EE147AE).
float reconstruction_offset();

// Turns count quantised values into floats: sign(q) (|q| - 0.44) D + sign(q) D/2, 0 at q = 0,
// then subtracts the dither (plane 0 only, dither != nullptr). 0 on success, 1 when the pool
// cannot supply the small-value table.
int dequantise_block(float* output, const int16_t* values, int32_t count, float step,
                     const RegionRect& wanted, const DitherOrigin* dither);
// The values a code stands for alone (symbols 107..255): -73..75.
constexpr int32_t kSmallestCodedValue = -73;
constexpr int32_t kLargestCodedValue = 75;
// The small-value table of one step (values -45..45), built once per tile stream, and the
// same values for everything a symbol codes alone (computed the same way).
struct DequantiseTable {
    float small[91];
    float coded[kLargestCodedValue - kSmallestCodedValue + 1];
    float step;
    float half;
    bool zero;  // a step of 0 (or not a number) gives zeros
};
void make_dequantise_table(float step, DequantiseTable* table);
// One value (the direct formula beyond -45..45), as the table's dequantisation does it.
float dequantise_direct(int32_t q, const DequantiseTable& table);
inline float dequantise_one(int32_t q, const DequantiseTable& table) {
    if (table.zero) return 0.0f;
    return (q >= -45 && q <= 45) ? table.small[q + 45] : dequantise_direct(q, table);
}
// Dequantisation without dither, with a table made beforehand.
void dequantise_values(float* output, const int16_t* values, int32_t count,
                       const DequantiseTable& table);

// v -= D[(y + dy) mod 128][(x + dx) mod 128] x step for every sample of the wanted rectangle.
void subtract_dither(float* samples, float step, const RegionRect& wanted,
                     const DitherOrigin* dither);
// The same on rows pitch floats apart.
void subtract_dither_rows(float* samples, int64_t pitch, float step, const RegionRect& wanted,
                          const DitherOrigin* dither);
