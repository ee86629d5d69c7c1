#include "decode/dequantise.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "decode/vector_clones.h"
#include "format/pool.h"

float reconstruction_offset() { return std::bit_cast<float>(uint32_t{0x3EE147AE}); }

namespace {

// (q - a) x step + half for q > 0 and (q - (-a)) x step - half for q < 0, formed in double
// from single-precision operands in this order and rounded to single once.
float dequantise_value(int32_t q, float step, float half) {
    const double a = reconstruction_offset();
    if (q > 0) {
        return static_cast<float>((static_cast<double>(q) - a) * static_cast<double>(step) +
                                  static_cast<double>(half));
    }
    return static_cast<float>((static_cast<double>(q) - (-a)) * static_cast<double>(step) -
                              static_cast<double>(half));
}

}  // namespace

void make_dequantise_table(float step, DequantiseTable* table) {
    table->step = step;
    table->zero = step == 0.0f || std::isnan(step);
    table->half = static_cast<float>(static_cast<double>(step) * 0.5);
    for (int32_t q = kSmallestCodedValue; q <= kLargestCodedValue; ++q) {
        const float value = q == 0 || table->zero ? 0.0f : dequantise_value(q, step, table->half);
        table->coded[q - kSmallestCodedValue] = value;
        if (q >= -45 && q <= 45) table->small[q + 45] = value;
    }
}

float dequantise_direct(int32_t q, const DequantiseTable& table) {
    return dequantise_value(q, table.step, table.half);
}

void dequantise_values(float* output, const int16_t* values, int32_t count,
                       const DequantiseTable& table) {
    if (table.zero) {
        for (int32_t i = 0; i < count; ++i) output[i] = 0.0f;
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        const int32_t q = values[i];
        output[i] = (q >= -45 && q <= 45) ? table.small[q + 45]
                                          : dequantise_value(q, table.step, table.half);
    }
}

int dequantise_block(float* output, const int16_t* values, int32_t count, float step,
                     const RegionRect& wanted, const DitherOrigin* dither) {
    if (step == 0.0f || std::isnan(step)) {
        for (int32_t i = 0; i < count; ++i) output[i] = 0.0f;
        return 0;
    }
    // The small-value table comes from the pool, as all decoding memory does.
    auto* table = static_cast<DequantiseTable*>(pool_alloc(sizeof(DequantiseTable)));
    if (table == nullptr) return 1;
    make_dequantise_table(step, table);
    dequantise_values(output, values, count, *table);
    pool_free(table);
    subtract_dither(output, step, wanted, dither);
    return 0;
}

void subtract_dither(float* samples, float step, const RegionRect& wanted,
                     const DitherOrigin* dither) {
    subtract_dither_rows(samples, int64_t{wanted.x1} - wanted.x0 + 1, step, wanted, dither);
}

KAVEL_VECTOR_CLONES void subtract_dither_rows(float* samples, int64_t pitch, float step,
                                              const RegionRect& wanted,
                                              const DitherOrigin* dither) {
    if (dither == nullptr) return;
    const int32_t width = wanted.x1 - wanted.x0 + 1;
    const int32_t height = wanted.y1 - wanted.y0 + 1;
    // Subband coordinates are never negative, so the modulo is a mask.
    const int32_t first_column = static_cast<int32_t>((int64_t{wanted.x0} + dither->column) & 127);
    const double delta = step;
    for (int32_t r = 0; r < height; ++r) {
        const float* row = kDitherTable + ((int64_t{wanted.y0} + r + dither->row) & 127) * 128;
        float* out = samples + int64_t{r} * pitch;
        // Stretches that end at the table row's end, so that the table is read linearly.
        int32_t column = first_column;
        for (int32_t k = 0; k < width;) {
            const int32_t stretch = std::min(width - k, 128 - column);
            const float* d = row + column;
            float* v = out + k;
            for (int32_t i = 0; i < stretch; ++i) {
                v[i] = static_cast<float>(static_cast<double>(v[i]) -
                                          static_cast<double>(d[i]) * delta);
            }
            k += stretch;
            column = 0;
        }
    }
}
