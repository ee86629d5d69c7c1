#include "decode/wavelet.h"

#include <algorithm>
#include <bit>

#include "decode/vector_clones.h"
#include "format/pool.h"

LiftingConstants lifting_constants() {
    return LiftingConstants{
        std::bit_cast<float>(uint32_t{0xBFCB0670}), std::bit_cast<float>(uint32_t{0xBD59018E}),
        std::bit_cast<float>(uint32_t{0x3F620675}), std::bit_cast<float>(uint32_t{0x3EE31359})};
}

namespace {

constexpr int kWalkOrder[4] = {0, 2, 1, 3};

// Halvings that round down and up, formed in 64 bits (a band may be 2^31 - 1 long).
int32_t floor_half(int64_t v) { return static_cast<int32_t>(v >= 0 ? v / 2 : -((1 - v) / 2)); }
int32_t ceil_half(int64_t v) { return static_cast<int32_t>(v >= 0 ? (v + 1) / 2 : -((-v) / 2)); }

// Whole-sample symmetric extension of a line of n samples about both end samples, reflected
// as often as needed (lines of 2 to 4 samples need more than one reflection). Returns the
// sample index within 0..n-1 that stands at index.
int32_t mirror(int64_t index, int32_t n) {
    if (index >= 0 && index < n) return static_cast<int32_t>(index);
    if (n <= 1) return 0;
    const int64_t period = 2 * int64_t{n} - 2;
    int64_t i = index % period;
    if (i < 0) i += period;
    if (i >= n) i = period - i;
    return static_cast<int32_t>(i);
}
// Band index of the low value at extended index k, and of the high value.
int32_t low_index(int32_t k, int32_t n) { return mirror(2 * int64_t{k}, n) / 2; }
int32_t high_index(int32_t k, int32_t n) { return (mirror(2 * int64_t{k} + 1, n) - 1) / 2; }

// Every lifting step is lift(value, left, right) = value - (left + right) x factor, in double
// from single-precision operands, rounded to single once.

// One lifting step over count values held in double (each a single-precision value widened):
// v[i] = lift(v[i], left[i], right[i]), kept widened again.
inline void lift_span(double* __restrict v, const double* __restrict left,
                      const double* __restrict right, int32_t count, double factor) {
    for (int32_t i = 0; i < count; ++i) {
        v[i] = static_cast<float>(v[i] - (left[i] + right[i]) * factor);
    }
}

// Whether count rows of w values are all +0.0 (-0.0 and anything else are not).
inline bool rows_are_zero(const float* const* rows, int32_t count, int32_t w) {
    for (int32_t j = 0; j < count; ++j) {
        uint32_t bits = 0;
        for (int32_t c = 0; c < w; ++c) bits |= std::bit_cast<uint32_t>(rows[j][c]);
        if (bits != 0) return false;
    }
    return true;
}

// Outputs per pass over a line; longer lines are done in pieces, each recomputing the few band
// values it shares with its neighbour (the same values with the same bits).
constexpr int32_t kLinePiece = kTileColumns;
constexpr int32_t kLineBand = kLinePiece / 2 + 8;

// The four lifting steps over a line's band values and the interleave of X[a..b]: low[k]
// holds the low value of index e + 1 + k and high[k] the high value of index e + k, for
// e = floor(a/2) - 2 up to top = ceil(b/2) + 1. The values are widened to double once and kept
// so between the steps (each step's results rounded to single and widened again), instead of
// converting both neighbours again at every step.
KAVEL_VECTOR_CLONES void lift_and_interleave(float* output, int32_t a, int32_t b, const float* low,
                                             const float* high) {
    const LiftingConstants k = lifting_constants();
    const int32_t e = floor_half(a) - 2;
    const int32_t top = ceil_half(b) + 1;
    double L[kLineBand];
    double H[kLineBand];
    const int32_t high_count = top - e + 1, low_count = top - e;
    // The high values widened, and whether they are all +0.0, in one pass.
    uint32_t high_bits = 0;
    for (int32_t i = 0; i < high_count; ++i) {
        H[i] = high[i];
        high_bits |= std::bit_cast<uint32_t>(high[i]);
    }
    // L1 over e+1..top, H1 over e+1..top-1, L2 over e+2..top-1, H2 over the odd outputs (made
    // as they are stored); the low value of index i is L[i - e - 1].
    if (high_bits == 0) {
        // v - (+0.0 + +0.0) x delta is v itself (delta is positive): a high band of nothing
        // but +0.0 leaves the first step without effect.
        for (int32_t i = 0; i < low_count; ++i) L[i] = low[i];
    } else {
        const double delta = k.delta;
        for (int32_t i = 0; i < low_count; ++i) {
            L[i] = static_cast<float>(double{low[i]} - (H[i] + H[i + 1]) * delta);
        }
    }
    lift_span(H + 1, L, L + 1, top - e - 1, k.gamma);
    lift_span(L + 1, H + 1, H + 2, top - e - 2, k.beta);
    // Interleave: even outputs from the low band, odd outputs from the high band after the last
    // step: H2 of index m is lift(H1[m], L2[m], L2[m + 1], alpha).
    const double alpha = k.alpha;
    int64_t x = a;
    if ((x & 1) != 0) {
        const int64_t m = (x - 1) / 2 - e;
        output[0] = static_cast<float>(H[m] - (L[m - 1] + L[m]) * alpha);
        ++x;
    }
    const int64_t pairs = (b - x + 1) / 2;
    float* out = output + (x - a);
    const double* even = L + (x / 2 - e - 1);
    const double* odd = H + (x / 2 - e);
    for (int64_t i = 0; i < pairs; ++i) {
        out[2 * i] = static_cast<float>(even[i]);
        out[2 * i + 1] = static_cast<float>(odd[i] - (even[i] + even[i + 1]) * alpha);
    }
    if (x + 2 * pairs <= b) output[b - a] = static_cast<float>(L[b / 2 - e - 1]);
}

KAVEL_VECTOR_CLONES void synthesise_line_piece(float* output, int32_t a, int32_t b,
                                               const float* low, const float* high, int32_t stride,
                                               int32_t n, int32_t low_base, int32_t high_base) {
    // Band arrays indexed from e = floor(a/2) - 2: high values e .. top, low values e+1 .. top.
    const int32_t e = floor_half(a) - 2;
    const int32_t top = ceil_half(b) + 1;
    float L[kLineBand];
    float H[kLineBand];
    // Band values inside the band are read straight; only the ends go through the mirror.
    const int32_t nL = n / 2 + (n & 1), nH = n / 2;
    const int32_t h_first = e > 0 ? e : 0, h_last = top < nH - 1 ? top : nH - 1;
    const int32_t l_first = e + 1 > 0 ? e + 1 : 0, l_last = top < nL - 1 ? top : nL - 1;
    for (int32_t i = e; i <= top; ++i) {
        if (i == h_first && h_first <= h_last) {
            const float* src = high + int64_t{i - high_base} * stride;
            if (stride == 1) {
                std::copy(src, src + (h_last - h_first + 1), H + (i - e));
            } else {
                for (int32_t j = 0; j <= h_last - h_first; ++j) {
                    H[i - e + j] = src[int64_t{j} * stride];
                }
            }
            i = h_last;
            continue;
        }
        H[i - e] = high[int64_t{high_index(i, n) - high_base} * stride];
    }
    for (int32_t i = e + 1; i <= top; ++i) {
        if (i == l_first && l_first <= l_last) {
            const float* src = low + int64_t{i - low_base} * stride;
            if (stride == 1) {
                std::copy(src, src + (l_last - l_first + 1), L + (i - e));
            } else {
                for (int32_t j = 0; j <= l_last - l_first; ++j) {
                    L[i - e + j] = src[int64_t{j} * stride];
                }
            }
            i = l_last;
            continue;
        }
        L[i - e] = low[int64_t{low_index(i, n) - low_base} * stride];
    }
    lift_and_interleave(output, a, b, L + 1, H);
}

// The vertical pass makes every step of a piece in one sweep down its rows: at band row j it
// makes L1[j], H2[j-1], L3[j-1] and H4[j-2], which need only values made before. The values
// that later rows read are kept in double, so that each band value is converted once and each
// lifted value rounded to single (and widened again) once, instead of converting both
// neighbours again at every step. Every value is the same function of the same
// single-precision inputs as in four sweeps, one per step.
struct LiftState {
    double* h_raw;  // H[j-1]
    double* l1;     // L1[j-1]
    double* h2;     // H2[j-2]
    double* l3;     // L3[j-2]
};

// One band row j of the sweep over columns 0..w-1: kSteps of the four steps are made (L1 at
// j >= 1, H2 from j >= 2, L3 from j >= 3, H4 where its row is an output); even_out and odd_out
// are the output rows of L3[j-1] and H4[j-2], or none.
template <int kSteps>
__attribute__((always_inline)) inline void sweep_band_row(
    const LiftState& state, const float* __restrict high, const float* __restrict low,
    float* __restrict even_out, float* __restrict odd_out, int32_t w, bool high_zero,
    const LiftingConstants& k) {
    double* __restrict h_raw_prev = state.h_raw;
    double* __restrict l1_prev = state.l1;
    double* __restrict h2_prev = state.h2;
    double* __restrict l3_prev = state.l3;
    const double delta = k.delta, gamma = k.gamma, beta = k.beta, alpha = k.alpha;
    for (int32_t c = 0; c < w; ++c) {
        const double h_raw = high[c];
        const double lo = low[c];
        double l1 = lo;
        // v - (+0.0 + +0.0) x delta is v itself (delta is positive), whatever v is.
        if (kSteps >= 1 && !high_zero) {
            l1 = static_cast<float>(lo - (h_raw_prev[c] + h_raw) * delta);
        }
        if (kSteps >= 2) {
            const double h2 = static_cast<float>(h_raw_prev[c] - (l1_prev[c] + l1) * gamma);
            if (kSteps >= 3) {
                const auto l3 = static_cast<float>(l1_prev[c] - (h2_prev[c] + h2) * beta);
                if (even_out != nullptr) even_out[c] = l3;
                if (kSteps >= 4) {
                    odd_out[c] = static_cast<float>(h2_prev[c] - (l3_prev[c] + double{l3}) * alpha);
                }
                l3_prev[c] = l3;
            }
            h2_prev[c] = h2;
        }
        h_raw_prev[c] = h_raw;
        l1_prev[c] = l1;
    }
}

// Row pieces of the vertical pass, sized so that the working rows stay in the cache.
constexpr int32_t kRowPiece = kTileRows;
constexpr int32_t kRowBand = kRowPiece / 2 + 8;

// A row of +0.0 that stands for every row of a band without data (a leaf no tile gives data
// for has no array): as long as the band columns of a tile.
constexpr float kZeroRow[kLineBand] = {};

// Rebuilds rows a..b of columns adjacent columns at once (the same arithmetic per column as
// synthesise_line, done on whole rows): low band row k is at low + (k - low_base) x low_pitch,
// high band row k at high + (k - high_base) x high_pitch; output row x at
// out + (x - a) x out_pitch. A pitch of 0 with kZeroRow is a band of zeros. work holds
// 4 x columns doubles.
KAVEL_VECTOR_CLONES void synthesise_rows(float* out, int64_t out_pitch, int32_t a, int32_t b,
                                         const float* low, const float* high, int64_t low_pitch,
                                         int64_t high_pitch, int32_t columns, int32_t nL,
                                         int32_t nH, double* work) {
    const int32_t n = nL + nH;
    const int32_t low_base = ceil_half(a - 3) > 0 ? ceil_half(a - 3) : 0;
    const int32_t high_base = ceil_half(a - 5) > 0 ? ceil_half(a - 5) : 0;
    if (n <= 1) {
        for (int64_t x = a; x <= b; ++x) {
            for (int32_t c = 0; c < columns; ++c) out[(x - a) * out_pitch + c] = low[c];
        }
        return;
    }
    const LiftingConstants k = lifting_constants();
    // Band rows are read where they stand, and the outputs are written straight into their
    // rows.
    const int32_t w = columns;
    const float* low_rows[kRowBand];
    const float* high_rows[kRowBand];
    for (int64_t piece = a; piece <= b; piece += kRowPiece) {
        const auto pa = static_cast<int32_t>(piece);
        const int32_t pb = b - pa < kRowPiece ? b : pa + kRowPiece - 1;
        const int32_t e = floor_half(pa) - 2;
        const int32_t top = ceil_half(pb) + 1;
        for (int32_t i = e; i <= top; ++i) {
            high_rows[i - e] = high + int64_t{high_index(i, n) - high_base} * high_pitch;
            low_rows[i - e] = low + int64_t{low_index(i, n) - low_base} * low_pitch;
        }
        // Where every value the piece reads is +0.0 (bands quantised to nothing), every lifting
        // step gives +0.0 again: the output rows are cleared instead.
        const bool high_zero =
            (high == kZeroRow && high_pitch == 0) || rows_are_zero(high_rows, top - e + 1, w);
        if (high_zero &&
            ((low == kZeroRow && low_pitch == 0) || rows_are_zero(low_rows + 1, top - e, w))) {
            for (int64_t x = pa; x <= pb; ++x) {
                std::fill_n(out + (x - a) * out_pitch, w, 0.0f);
            }
            continue;
        }
        // H[e] starts the sweep; rows e+1..top follow.
        const LiftState state{work, work + w, work + 2 * int64_t{w}, work + 3 * int64_t{w}};
        for (int32_t c = 0; c < w; ++c) state.h_raw[c] = high_rows[0][c];
        const int32_t last = top - e;
        for (int32_t j = 1; j <= last; ++j) {
            const int64_t even = 2 * (int64_t{e} + j - 1), odd = 2 * (int64_t{e} + j - 2) + 1;
            float* even_out = (even >= pa && even <= pb) ? out + (even - a) * out_pitch : nullptr;
            float* odd_out = (odd >= pa && odd <= pb) ? out + (odd - a) * out_pitch : nullptr;
            if (j == 1) {
                sweep_band_row<1>(state, high_rows[j], low_rows[j], nullptr, nullptr, w,
                                  high_zero, k);
            } else if (j == 2) {
                sweep_band_row<2>(state, high_rows[j], low_rows[j], nullptr, nullptr, w,
                                  high_zero, k);
            } else if (j == 3 || odd_out == nullptr) {
                sweep_band_row<3>(state, high_rows[j], low_rows[j], even_out, nullptr, w,
                                  high_zero, k);
            } else {
                sweep_band_row<4>(state, high_rows[j], low_rows[j], even_out, odd_out, w,
                                  high_zero, k);
            }
        }
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

}  // namespace

void synthesise_line(float* output, int32_t a, int32_t b, const float* low, const float* high,
                     int32_t stride, int32_t nL, int32_t nH) {
    if (b < a) return;
    if (nL + nH <= 1) {
        // A line of one sample is its own low-band value.
        for (int64_t x = a; x <= b; ++x) output[x - a] = low[0];
        return;
    }
    const int32_t low_base = ceil_half(a - 3) > 0 ? ceil_half(a - 3) : 0;
    const int32_t high_base = ceil_half(a - 5) > 0 ? ceil_half(a - 5) : 0;
    for (int64_t first = a; first <= b; first += kLinePiece) {
        const int64_t last = b - first < kLinePiece ? b : first + kLinePiece - 1;
        synthesise_line_piece(output + (first - a), static_cast<int32_t>(first),
                              static_cast<int32_t>(last), low, high, stride, nL + nH, low_base,
                              high_base);
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

int begin_tile_synthesis(const RegionNode* node, TileSynthesis* synthesis) {
    *synthesis = TileSynthesis{};
    RegionNode* const* c = node->children;
    // Children 0 and 1 hold the low columns (low and high rows), 2 and 3 the high columns.
    if (c[0]->x0 != c[1]->x0 || c[0]->x1 != c[1]->x1 || c[2]->x0 != c[3]->x0 ||
        c[2]->x1 != c[3]->x1 || columns_of(node) < 0 || rows_of(node) < 0) {
        return 1;
    }
    // Tiles of the two half nodes (low and high columns after the vertical pass) and the
    // vertical pass's four working rows of doubles, reused tile after tile: a tile row holds
    // the band columns of at most kTileColumns outputs (at most kLineBand - 3), and never more
    // than the widest child has.
    const int64_t widest = std::max(columns_of(c[0]), columns_of(c[2]));
    const auto tile_pitch = static_cast<int32_t>(std::clamp<int64_t>(widest, 1, kLineBand));
    const auto tile_rows = static_cast<int32_t>(std::clamp<int64_t>(rows_of(node), 1, kTileRows));
    const int32_t tile_floats = tile_rows * tile_pitch;
    const int32_t tile_bytes = 2 * tile_floats * static_cast<int32_t>(sizeof(float));
    auto* scratch = static_cast<uint8_t*>(
        pool_alloc(tile_bytes + 4 * tile_pitch * static_cast<int32_t>(sizeof(double))));
    if (scratch == nullptr) return 1;
    auto* tiles = reinterpret_cast<float*>(scratch);
    *synthesis = TileSynthesis{node, {tiles, tiles + tile_floats},
                               reinterpret_cast<double*>(scratch + tile_bytes), tile_pitch};
    return 0;
}

void end_tile_synthesis(TileSynthesis* synthesis) {
    if (synthesis->half_tiles[0] != nullptr) pool_free(synthesis->half_tiles[0]);
    *synthesis = TileSynthesis{};
}

// First the columns of both halves that the tile's outputs reach, synthesised vertically from
// the children, then the tile's rows, synthesised horizontally from those columns. Every value
// is the same function of the same inputs as in a pass over whole half nodes.
void synthesise_tile(const TileSynthesis& synthesis, int32_t top, int32_t bottom, int32_t first,
                     int32_t last, float* out, int64_t out_pitch) {
    RegionNode* const* c = synthesis.node->children;
    const int32_t reach = ceil_half(last) + 1;
    for (int side = 0; side < 2; ++side) {
        const RegionNode* low = c[2 * side];
        const RegionNode* high = c[2 * side + 1];
        // Band columns first_band..last_band: from the one the horizontal pass reads first
        // (low values from ceil((a-3)/2), high values from ceil((a-5)/2)).
        const int32_t start = ceil_half(int64_t{first} - (side == 0 ? 3 : 5));
        const int32_t first_band = start > 0 ? start : 0;
        const int32_t last_band = low->x1 < reach ? low->x1 : reach;
        if (last_band < first_band) continue;
        const int64_t pitch = columns_of(low);
        const int32_t low_first = std::max(ceil_half(int64_t{top} - 3), 0);
        const int32_t high_first = std::max(ceil_half(int64_t{top} - 5), 0);
        // A band without an array holds nothing but +0.0: every row of it is kZeroRow.
        const float* low_rows =
            low->coefficients == nullptr
                ? kZeroRow
                : low->coefficients + ((low_first - int64_t{low->y0}) * pitch +
                                       (first_band - low->x0));
        const float* high_rows =
            high->coefficients == nullptr
                ? kZeroRow
                : high->coefficients + ((high_first - int64_t{high->y0}) * pitch +
                                        (first_band - high->x0));
        synthesise_rows(synthesis.half_tiles[side], synthesis.tile_pitch, top, bottom, low_rows,
                        high_rows, low->coefficients == nullptr ? 0 : pitch,
                        high->coefficients == nullptr ? 0 : pitch, last_band - first_band + 1,
                        low->size[1], high->size[1], synthesis.work);
    }
    // Away from the bands' ends (no mirrored values), a tile row holds exactly the band values
    // the line needs, high from index e and low from e + 1, and is lifted from where it is;
    // elsewhere the line gathers its values (mirrored at the ends) first.
    const int32_t n_low = c[0]->size[0], n_high = c[3]->size[0];
    const int32_t e = floor_half(first) - 2, line_top = ceil_half(last) + 1;
    const bool in_place = e >= 0 && line_top <= n_low - 1 && line_top <= n_high - 1;
    for (int32_t r = top; r <= bottom; ++r) {
        const int64_t tile_row = int64_t{r - top} * synthesis.tile_pitch;
        float* line = out + (r - top) * out_pitch;
        if (in_place) {
            lift_and_interleave(line, first, last, synthesis.half_tiles[0] + tile_row,
                                synthesis.half_tiles[1] + tile_row);
        } else {
            synthesise_line(line, first, last, synthesis.half_tiles[0] + tile_row,
                            synthesis.half_tiles[1] + tile_row, 1, n_low, n_high);
        }
    }
}

int synthesise_node(RegionNode* node) {
    TileSynthesis synthesis;
    if (begin_tile_synthesis(node, &synthesis) != 0) return 1;
    const int64_t columns = columns_of(node);
    const int64_t count = columns * rows_of(node);
    if (count * int64_t{sizeof(float)} > INT32_MAX) return 1;
    node->coefficients =
        static_cast<float*>(pool_alloc(static_cast<int32_t>(count * int64_t{sizeof(float)})));
    if (node->coefficients == nullptr) return 1;
    for (int64_t top = node->y0; top <= node->y1; top += kTileRows) {
        const int32_t bottom =
            node->y1 - top < kTileRows ? node->y1 : static_cast<int32_t>(top) + kTileRows - 1;
        for (int64_t first = node->x0; first <= node->x1; first += kTileColumns) {
            const int32_t last = node->x1 - first < kTileColumns
                                     ? node->x1
                                     : static_cast<int32_t>(first) + kTileColumns - 1;
            synthesise_tile(
                synthesis, static_cast<int32_t>(top), bottom, static_cast<int32_t>(first), last,
                node->coefficients + (top - node->y0) * columns + (first - node->x0), columns);
        }
    }
    end_tile_synthesis(&synthesis);
    return 0;
}

int reconstruct_children(RegionNode* node, const DecoderOverride* decoder) {
    if (node == nullptr || !node->split) return 0;
    for (int c : kWalkOrder) {
        if (reconstruct_region(node->children[c], decoder) != 0) return 1;
    }
    return 0;
}

int reconstruct_region(RegionNode* node, const DecoderOverride* decoder) {
    if (node == nullptr || !node->split) return 0;
    if (reconstruct_children(node, decoder) != 0) return 1;
    const int synthesised =
        decoder != nullptr ? decoder->synthesise_node(node) : synthesise_node(node);
    if (synthesised != 0) return 1;
    for (int c : kWalkOrder) {
        release_region(node->children[c]);
        node->children[c] = nullptr;
    }
    node->split = 0;
    return 0;
}

KAVEL_VECTOR_CLONES void convert_colours(RegionNode* r0, RegionNode* r1, RegionNode* r2) {
    if (r0 == nullptr || r1 == nullptr || r2 == nullptr) return;
    const int64_t count = columns_of(r0) * rows_of(r0);
    float* p0 = r0->coefficients;
    float* p1 = r1->coefficients;
    float* p2 = r2->coefficients;
    for (int64_t i = 0; i < count; ++i) {
        const ColourSample c = colour_of(p0[i], p1[i], p2[i]);
        p0[i] = c.r;
        p1[i] = c.g;
        p2[i] = c.b;
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
