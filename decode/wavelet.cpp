#include "decode/wavelet.h"

#include <bit>

#include "format/pool.h"

LiftingConstants lifting_constants() {
    return LiftingConstants{std::bit_cast<float>(uint32_t{0xBFCB0670}),
                            std::bit_cast<float>(uint32_t{0xBD59018E}),
                            std::bit_cast<float>(uint32_t{0x3F620675}),
                            std::bit_cast<float>(uint32_t{0x3EE31359})};
}

namespace {

constexpr int kWalkOrder[4] = {0, 2, 1, 3};

// Outputs computed per pass of the lifting pipeline; longer lines are done in pieces, each
// piece recomputing the few band values it shares with its neighbour (same values, same bits).
constexpr int32_t kPiece = 256;
constexpr int32_t kPieceBand = kPiece / 2 + 8;

int32_t floor_half(int32_t v) { return v >= 0 ? v / 2 : -((1 - v) / 2); }
int32_t ceil_half(int32_t v) { return v >= 0 ? (v + 1) / 2 : -((-v) / 2); }

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
    int32_t low_base, high_base;  // band indices of the values low and high point at

    float low_at(int32_t k) const {
        const int32_t x = mirror(2 * int64_t{k}, nL + nH);
        return low[int64_t{x / 2 - low_base} * stride];
    }
    float high_at(int32_t k) const {
        const int32_t x = mirror(2 * int64_t{k} + 1, nL + nH);
        return high[int64_t{(x - 1) / 2 - high_base} * stride];
    }
};

// value - (left + right) x factor, in double from single operands, rounded to single once.
inline float lift(float value, float left, float right, double factor) {
    return static_cast<float>(static_cast<double>(value) -
                              (static_cast<double>(left) + static_cast<double>(right)) * factor);
}

void synthesise_piece(float* output, int32_t a, int32_t b, const Line& line) {
    const LiftingConstants k = lifting_constants();
    // Band arrays indexed from e = floor(a/2) - 2: high values e .. ceil(b/2)+1, low values
    // e+1 .. ceil(b/2)+1.
    const int32_t e = floor_half(a) - 2;
    const int32_t top = ceil_half(b) + 1;
    float L[kPieceBand];
    float H[kPieceBand];
    for (int32_t i = e; i <= top; ++i) H[i - e] = line.high_at(i);
    for (int32_t i = e + 1; i <= top; ++i) L[i - e] = line.low_at(i);
    const double delta = k.delta, gamma = k.gamma, beta = k.beta, alpha = k.alpha;
    for (int32_t i = e + 1; i <= top; ++i) {
        L[i - e] = lift(L[i - e], H[i - 1 - e], H[i - e], delta);
    }
    for (int32_t i = e + 1; i <= top - 1; ++i) {
        H[i - e] = lift(H[i - e], L[i - e], L[i + 1 - e], gamma);
    }
    for (int32_t i = e + 2; i <= top - 1; ++i) {
        L[i - e] = lift(L[i - e], H[i - 1 - e], H[i - e], beta);
    }
    for (int32_t i = ceil_half(a - 1); i <= floor_half(b - 1); ++i) {
        H[i - e] = lift(H[i - e], L[i - e], L[i + 1 - e], alpha);
    }
    for (int32_t x = a; x <= b; ++x) {
        output[x - a] = (x & 1) == 0 ? L[x / 2 - e] : H[(x - 1) / 2 - e];
    }
}

RegionNode* new_node() {
    auto* node = static_cast<RegionNode*>(pool_alloc(sizeof(RegionNode)));
    if (node == nullptr) return nullptr;
    node->split = 0;
    node->x0 = node->x1 = node->y0 = node->y1 = 0;
    node->size = nullptr;
    node->coefficients = nullptr;
    node->gain = 1.0f;
    for (RegionNode*& child : node->children) child = nullptr;
    return node;
}

int64_t columns_of(const RegionNode* n) { return int64_t{n->x1} - n->x0 + 1; }
int64_t rows_of(const RegionNode* n) { return int64_t{n->y1} - n->y0 + 1; }

// The column of a child's array, or nothing for a child with no samples.
const float* column_of(const RegionNode* child, int64_t column) {
    return child->coefficients == nullptr ? nullptr : child->coefficients + column;
}

}  // namespace

void synthesise_line(float* output, int32_t a, int32_t b, const float* low, const float* high,
                     int32_t stride, int32_t nL, int32_t nH) {
    if (b < a) return;
    if (nL + nH <= 1) {
        // A line of one sample is its own low-band value.
        for (int32_t x = a; x <= b; ++x) output[x - a] = low[0];
        return;
    }
    const int32_t low_base = ceil_half(a - 3) > 0 ? ceil_half(a - 3) : 0;
    const int32_t high_base = ceil_half(a - 5) > 0 ? ceil_half(a - 5) : 0;
    const Line line{low, high, stride, nL, nH, low_base, high_base};
    for (int32_t first = a; first <= b; first += kPiece) {
        const int32_t last = b - first < kPiece ? b : first + kPiece - 1;
        synthesise_piece(output + (first - a), first, last, line);
    }
}

int make_half_node(RegionNode** half, const RegionNode* parent, const RegionNode* child) {
    *half = nullptr;
    RegionNode* node = new_node();
    if (node == nullptr) return 1;
    *half = node;
    node->x0 = child->x0;
    node->x1 = child->x1;
    node->y0 = parent->y0;
    node->y1 = parent->y1;
    node->size = static_cast<int32_t*>(pool_alloc(2 * sizeof(int32_t)));
    if (node->size == nullptr) return 1;
    node->size[0] = child->size[0];
    node->size[1] = parent->size[1];
    const int64_t count = columns_of(node) * rows_of(node);
    if (count < 0 || count * int64_t{sizeof(float)} > INT32_MAX) return 1;
    node->coefficients =
        static_cast<float*>(pool_alloc(static_cast<int32_t>(count * int64_t{sizeof(float)})));
    return node->coefficients == nullptr ? 1 : 0;
}

int synthesise_node(RegionNode* node) {
    RegionNode* const* c = node->children;
    const int32_t rows = node->y1 - node->y0 + 1;

    // Vertical pass: low columns from children 0 and 1 into A, high columns from 2 and 3
    // into B; half nodes are stored column by column.
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
            synthesise_line(half->coefficients + q * rows, node->y0, node->y1,
                            column_of(low, q), column_of(high, q),
                            static_cast<int32_t>(row_length), low->size[1], high->size[1]);
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
    // Horizontal pass: row r of the node from element r of every column of A and B.
    for (int32_t r = 0; r < rows; ++r) {
        synthesise_line(node->coefficients + int64_t{r} * columns, node->x0, node->x1,
                        A->coefficients + r, B->coefficients + r, rows, A->size[0], B->size[0]);
    }
    release_region(A);
    release_region(B);
    return 0;
}

int reconstruct_region(RegionNode* node) {
    if (node == nullptr || !node->split) return 0;
    for (int c : kWalkOrder) {
        if (reconstruct_region(node->children[c]) != 0) return 1;
    }
    if (synthesise_node(node) != 0) return 1;
    for (int c : kWalkOrder) {
        release_region(node->children[c]);
        node->children[c] = nullptr;
    }
    node->split = 0;
    return 0;
}

void convert_colours(RegionNode* r0, RegionNode* r1, RegionNode* r2) {
    if (r0 == nullptr || r1 == nullptr || r2 == nullptr) return;
    const double qr = std::bit_cast<float>(uint32_t{0x3F21F9AE});   //  205/324
    const double ir = std::bit_cast<float>(uint32_t{0xBF71F9AE});   // -1225/1296
    const double qg = std::bit_cast<float>(uint32_t{0xBF1A12F7});   // -65/108
    const double ig = std::bit_cast<float>(uint32_t{0x3E9425ED});   //  125/432
    const double qb = std::bit_cast<float>(uint32_t{0x3FDB425F});   //  185/108
    const double ib = std::bit_cast<float>(uint32_t{0x3F8CBDA1});   //  475/432
    const int64_t count = columns_of(r0) * rows_of(r0);
    float* p0 = r0->coefficients;
    float* p1 = r1->coefficients;
    float* p2 = r2->coefficients;
    for (int64_t i = 0; i < count; ++i) {
        const double y = p0[i];
        const double iv = p1[i];
        const double qv = p2[i];
        p0[i] = static_cast<float>((qr * qv - ir * iv) + y);
        p1[i] = static_cast<float>(y + (qg * qv - ig * iv));
        p2[i] = static_cast<float>(y + (qb * qv - ib * iv));
    }
}

void release_region(RegionNode* node) {
    if (node == nullptr) return;
    if (node->coefficients != nullptr) pool_free(node->coefficients);
    if (node->size != nullptr) pool_free(node->size);
    if (node->split) {
        for (RegionNode* child : node->children) release_region(child);
    }
    pool_free(node);
}
