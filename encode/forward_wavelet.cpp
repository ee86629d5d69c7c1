#include "encode/forward_wavelet.h"

#include <algorithm>
#include <array>
#include <bit>

namespace kavel {

namespace {

struct Lifting {
    double alpha, beta, gamma, delta;
};

// The reader's lifting constants (single precision), used in double here.
Lifting lifting() {
    return {std::bit_cast<float>(uint32_t{0xBFCB0670}), std::bit_cast<float>(uint32_t{0xBD59018E}),
            std::bit_cast<float>(uint32_t{0x3F620675}), std::bit_cast<float>(uint32_t{0x3EE31359})};
}

// Whole-sample symmetric reflection into 0..n-1, repeated until the index lies within.
inline int32_t reflect(int32_t i, int32_t n) {
    while (i < 0 || i >= n) {
        if (i < 0) i = -i;
        if (i >= n) i = 2 * (n - 1) - i;
    }
    return i;
}

// One lifting step over the samples of one parity: x[i] += k (x[i-1] + x[i+1]).
void lift(float* x, int32_t n, int32_t parity, double k) {
    if (n < 2) return;
    int32_t i = parity;
    // Edges with reflection, interior straight.
    for (; i < n && i < 1; i += 2)
        x[i] = static_cast<float>(x[i] + k * (double(x[reflect(i - 1, n)]) + x[reflect(i + 1, n)]));
    for (; i + 1 < n; i += 2) x[i] = static_cast<float>(x[i] + k * (double(x[i - 1]) + x[i + 1]));
    for (; i < n; i += 2)
        x[i] = static_cast<float>(x[i] + k * (double(x[reflect(i - 1, n)]) + x[reflect(i + 1, n)]));
}

// The same step applied to `count` interleaved lines at once: rows[i * count + c] is sample i
// of line c. Used for the columns of a strip, so that the inner loop runs along memory.
void lift_rows(float* rows, int32_t n, int32_t count, int32_t parity, double k) {
    if (n < 2) return;
    for (int32_t i = parity; i < n; i += 2) {
        float* x = rows + std::size_t(i) * std::size_t(count);
        const float* a = rows + std::size_t(reflect(i - 1, n)) * std::size_t(count);
        const float* b = rows + std::size_t(reflect(i + 1, n)) * std::size_t(count);
        for (int32_t c = 0; c < count; ++c)
            x[c] = static_cast<float>(x[c] + k * (double(a[c]) + b[c]));
    }
}

void analyse_rows(Plane* plane, int32_t w, int32_t h, std::vector<float>* scratch) {
    if (w < 2) return;
    scratch->resize(std::size_t(w));
    const Lifting l = lifting();
    const int32_t low = w - w / 2;
    for (int32_t y = 0; y < h; ++y) {
        float* row = plane->row(y);
        float* x = scratch->data();
        std::copy(row, row + w, x);
        lift(x, w, 1, l.alpha);
        lift(x, w, 0, l.beta);
        lift(x, w, 1, l.gamma);
        lift(x, w, 0, l.delta);
        for (int32_t i = 0; i < w; ++i) row[(i & 1) ? low + i / 2 : i / 2] = x[i];
    }
}

void analyse_columns(Plane* plane, int32_t w, int32_t h, std::vector<float>* scratch) {
    if (h < 2) return;
    constexpr int32_t kStrip = 64;
    scratch->resize(std::size_t(h) * kStrip);
    const Lifting l = lifting();
    const int32_t low = h - h / 2;
    for (int32_t x0 = 0; x0 < w; x0 += kStrip) {
        const int32_t count = std::min(kStrip, w - x0);
        float* s = scratch->data();
        for (int32_t y = 0; y < h; ++y)
            std::copy(plane->row(y) + x0, plane->row(y) + x0 + count,
                      s + std::size_t(y) * std::size_t(count));
        lift_rows(s, h, count, 1, l.alpha);
        lift_rows(s, h, count, 0, l.beta);
        lift_rows(s, h, count, 1, l.gamma);
        lift_rows(s, h, count, 0, l.delta);
        for (int32_t y = 0; y < h; ++y) {
            const int32_t to = (y & 1) ? low + y / 2 : y / 2;
            const float* from = s + std::size_t(y) * std::size_t(count);
            std::copy(from, from + count, plane->row(to) + x0);
        }
    }
}

}  // namespace

SubbandRect subband_rect(int32_t width, int32_t height, int32_t levels, int32_t subband) {
    const SubbandPosition where = subband_position(subband, levels);
    if (where.level < 0) return {};
    if (levels == 0) return {0, 0, width, height};
    const BandSize parent = band_size_at_scale(width, height, where.level - 1);
    const BandSize low = child_band_size(parent, 0);
    const BandSize size = child_band_size(parent, where.child);
    return {(where.child & 2) ? low.width : 0, (where.child & 1) ? low.height : 0, size.width,
            size.height};
}

void analyse_line(float* line, std::ptrdiff_t stride, int32_t n, float* scratch) {
    if (n < 2) return;
    for (int32_t i = 0; i < n; ++i) scratch[i] = line[i * stride];
    const Lifting l = lifting();
    lift(scratch, n, 1, l.alpha);
    lift(scratch, n, 0, l.beta);
    lift(scratch, n, 1, l.gamma);
    lift(scratch, n, 0, l.delta);
    const int32_t low = n - n / 2;
    for (int32_t i = 0; i < n; ++i) line[((i & 1) ? low + i / 2 : i / 2) * stride] = scratch[i];
}

void forward_wavelet(Plane* plane, int32_t levels) {
    std::vector<float> scratch;
    BandSize band{plane->width, plane->height};
    for (int32_t d = 0; d < levels; ++d) {
        analyse_rows(plane, band.width, band.height, &scratch);
        analyse_columns(plane, band.width, band.height, &scratch);
        band = child_band_size(band, 0);
    }
}

const double* forward_colour_matrix() {
    static const auto matrix = [] {
        const auto f = [](uint32_t bits) { return double(std::bit_cast<float>(bits)); };
        // Columns Y, I, Q of the reader's conversion.
        const double m[3][3] = {
            {1.0, -f(0xBF71F9AE), f(0x3F21F9AE)},  // red   = Y + 0.94521606 I + 0.63271606 Q
            {1.0, -f(0x3E9425ED), f(0xBF1A12F7)},  // green = Y - 0.28935185 I - 0.6018519 Q
            {1.0, -f(0x3F8CBDA1), f(0x3FDB425F)},  // blue  = Y - 1.099537 I + 1.712963 Q
        };
        const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
        std::array<double, 9> inv{};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
                inv[std::size_t(r * 3 + c)] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
            }
        return inv;
    }();
    return matrix.data();
}

}  // namespace kavel
