// Line synthesis the plain way: every band value is fetched through the symmetric mirror, and
// half nodes are stored column by column.
#include "tests/support/reference/reference_decoder.h"
#include "decode/wavelet.h"
#include "format/pool.h"

namespace {

constexpr int32_t kPiece = 256;
constexpr int32_t kPieceBand = kPiece / 2 + 8;

int32_t floor_half(int64_t v) { return static_cast<int32_t>(v >= 0 ? v / 2 : -((1 - v) / 2)); }
int32_t ceil_half(int64_t v) { return static_cast<int32_t>(v >= 0 ? (v + 1) / 2 : -((-v) / 2)); }

// Whole-sample symmetric extension of a line of n samples about both end samples, reflected
// as often as needed (lines of 2 to 4 samples need more than one reflection).
int32_t mirror(int64_t index, int32_t n) {
    if (n <= 1) return 0;
    const int64_t period = 2 * int64_t{n} - 2;
    int64_t i = index % period;
    if (i < 0) i += period;
    if (i >= n) i = period - i;
    return static_cast<int32_t>(i);
}

struct Line {
    const float* low;
    const float* high;
    int32_t stride;
    int32_t nL, nH;
    int32_t low_base, high_base;

    float low_at(int32_t k) const {
        const int32_t x = mirror(2 * int64_t{k}, nL + nH);
        return low[int64_t{x / 2 - low_base} * stride];
    }
    float high_at(int32_t k) const {
        const int32_t x = mirror(2 * int64_t{k} + 1, nL + nH);
        return high[int64_t{(x - 1) / 2 - high_base} * stride];
    }
};

float lift(float value, float left, float right, double factor) {
    return static_cast<float>(static_cast<double>(value) -
                              (static_cast<double>(left) + static_cast<double>(right)) * factor);
}

void synthesise_piece(float* output, int32_t a, int32_t b, const Line& line) {
    const LiftingConstants k = lifting_constants();
    const int32_t e = floor_half(a) - 2;
    const int32_t top = ceil_half(b) + 1;
    float L[kPieceBand];
    float H[kPieceBand];
    for (int32_t i = e; i <= top; ++i) H[i - e] = line.high_at(i);
    for (int32_t i = e + 1; i <= top; ++i) L[i - e] = line.low_at(i);
    for (int32_t i = e + 1; i <= top; ++i) L[i - e] = lift(L[i - e], H[i - 1 - e], H[i - e], k.delta);
    for (int32_t i = e + 1; i <= top - 1; ++i) H[i - e] = lift(H[i - e], L[i - e], L[i + 1 - e], k.gamma);
    for (int32_t i = e + 2; i <= top - 1; ++i) L[i - e] = lift(L[i - e], H[i - 1 - e], H[i - e], k.beta);
    for (int32_t i = ceil_half(a - 1); i <= floor_half(b - 1); ++i) {
        H[i - e] = lift(H[i - e], L[i - e], L[i + 1 - e], k.alpha);
    }
    for (int64_t x = a; x <= b; ++x) output[x - a] = (x & 1) == 0 ? L[x / 2 - e] : H[(x - 1) / 2 - e];
}

int64_t columns_of(const RegionNode* n) { return int64_t{n->x1} - n->x0 + 1; }

const float* column_of(const RegionNode* child, int64_t column) {
    return child->coefficients == nullptr ? nullptr : child->coefficients + column;
}

}  // namespace

void synthesise_line_reference(float* output, int32_t a, int32_t b, const float* low,
                               const float* high, int32_t stride, int32_t nL, int32_t nH) {
    if (b < a) return;
    if (nL + nH <= 1) {
        for (int64_t x = a; x <= b; ++x) output[x - a] = low[0];
        return;
    }
    const int32_t low_base = ceil_half(a - 3) > 0 ? ceil_half(a - 3) : 0;
    const int32_t high_base = ceil_half(a - 5) > 0 ? ceil_half(a - 5) : 0;
    const Line line{low, high, stride, nL, nH, low_base, high_base};
    for (int64_t first = a; first <= b; first += kPiece) {
        const int64_t last = b - first < kPiece ? b : first + kPiece - 1;
        synthesise_piece(output + (first - a), static_cast<int32_t>(first),
                         static_cast<int32_t>(last), line);
    }
}

int synthesise_node_reference(RegionNode* node) {
    RegionNode* const* c = node->children;
    const int32_t rows = node->y1 - node->y0 + 1;
    RegionNode* halves[2] = {nullptr, nullptr};
    for (int side = 0; side < 2; ++side) {
        const RegionNode* low = c[side == 0 ? 0 : 2];
        const RegionNode* high = c[side == 0 ? 1 : 3];
        if (low->x0 != high->x0 || low->x1 != high->x1) return 1;
        if (make_half_node(&halves[side], node, side == 0 ? c[0] : c[3]) != 0) return 1;
        RegionNode* half = halves[side];
        const int64_t columns = columns_of(half);
        const int64_t row_length = columns_of(low);
        for (int64_t q = 0; q < columns; ++q) {
            synthesise_line_reference(half->coefficients + q * rows, node->y0, node->y1,
                                      column_of(low, q), column_of(high, q),
                                      static_cast<int32_t>(row_length), low->size[1],
                                      high->size[1]);
        }
    }
    RegionNode* A = halves[0];
    RegionNode* B = halves[1];
    if (A->y0 != B->y0 || A->y1 != B->y1) return 1;
    const int64_t columns = columns_of(node);
    const int64_t count = columns * rows;
    if (count * int64_t{sizeof(float)} > INT32_MAX) return 1;
    node->coefficients =
        static_cast<float*>(pool_alloc(static_cast<int32_t>(count * int64_t{sizeof(float)})));
    if (node->coefficients == nullptr) return 1;
    for (int32_t r = 0; r < rows; ++r) {
        synthesise_line_reference(node->coefficients + int64_t{r} * columns, node->x0, node->x1,
                                  A->coefficients + r, B->coefficients + r, rows, A->size[0],
                                  B->size[0]);
    }
    release_region(A);
    release_region(B);
    return 0;
}
