#include "decode/wavelet.h"

#include <gtest/gtest.h>

#include <functional>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "format/pool.h"

namespace {

// Whole-sample symmetric reflection, repeated until the index lies in 0..n-1.
int reflect(int i, int n) {
    if (n == 1) return 0;
    while (i < 0 || i >= n) i = i < 0 ? -i : 2 * (n - 1) - i;
    return i;
}

float step(float v, float a, float b, float f) {
    return static_cast<float>(double{v} - (double{a} + double{b}) * double{f});
}

// The inverse lifting of a whole line, done the plain way on an extended copy.
std::vector<float> naive_synthesis(const std::vector<float>& low, const std::vector<float>& high) {
    const int n = static_cast<int>(low.size() + high.size());
    if (n == 1) return {low[0]};
    const int pad = 12;
    std::vector<float> x(static_cast<size_t>(n + 2 * pad));
    for (int i = -pad; i < n + pad; ++i) {
        const int j = reflect(i, n);
        x[static_cast<size_t>(i + pad)] = (j % 2 == 0) ? low[static_cast<size_t>(j / 2)]
                                                       : high[static_cast<size_t>(j / 2)];
    }
    const LiftingConstants k = lifting_constants();
    auto at = [&](int i) -> float& { return x[static_cast<size_t>(i + pad)]; };
    auto pass = [&](int parity, float factor, int margin) {
        std::vector<float> next = x;
        for (int i = -pad + margin; i < n + pad - margin; ++i) {
            if (((i % 2) + 2) % 2 == parity) {
                next[static_cast<size_t>(i + pad)] = step(at(i), at(i - 1), at(i + 1), factor);
            }
        }
        x = next;
    };
    pass(0, k.delta, 1);
    pass(1, k.gamma, 2);
    pass(0, k.beta, 3);
    pass(1, k.alpha, 4);
    return std::vector<float>(x.begin() + pad, x.begin() + pad + n);
}

// Forward analysis with the same extension: d += a(s + s'), s += b(d + d'), ...
void analyse(std::vector<float> x, std::vector<float>* low, std::vector<float>* high) {
    const int n = static_cast<int>(x.size());
    const LiftingConstants k = lifting_constants();
    auto lift = [&](int parity, float factor) {
        std::vector<float> next = x;
        for (int i = parity; i < n; i += 2) {
            const float left = x[static_cast<size_t>(reflect(i - 1, n))];
            const float right = x[static_cast<size_t>(reflect(i + 1, n))];
            next[static_cast<size_t>(i)] = static_cast<float>(
                double{x[static_cast<size_t>(i)]} + (double{left} + double{right}) * factor);
        }
        x = next;
    };
    lift(1, k.alpha);
    lift(0, k.beta);
    lift(1, k.gamma);
    lift(0, k.delta);
    low->clear();
    high->clear();
    for (int i = 0; i < n; ++i) (i % 2 == 0 ? low : high)->push_back(x[static_cast<size_t>(i)]);
}

// A child of a node covering whole bands from 0, filled by fill (or holding no array).
RegionNode* band_node(int32_t columns, int32_t rows, const std::function<float()>& fill) {
    auto* node = static_cast<RegionNode*>(pool_alloc(sizeof(RegionNode)));
    *node = RegionNode{};
    node->x1 = columns - 1;
    node->y1 = rows - 1;
    node->size = static_cast<int32_t*>(pool_alloc(2 * sizeof(int32_t)));
    node->size[0] = columns;
    node->size[1] = rows;
    node->gain = 1.0f;
    if (fill) {
        node->coefficients = static_cast<float*>(pool_alloc(columns * rows * 4));
        for (int32_t i = 0; i < columns * rows; ++i) node->coefficients[i] = fill();
    }
    return node;
}

// Whole-node synthesis done line by line with synthesise_line: the columns of both halves,
// then the rows.
std::vector<float> node_by_lines(const RegionNode& node) {
    const int32_t w = node.x1 + 1, h = node.y1 + 1;
    std::vector<float> halves[2];
    for (int side = 0; side < 2; ++side) {
        const RegionNode* low = node.children[2 * side];
        const RegionNode* high = node.children[2 * side + 1];
        const int32_t columns = low->size[0];
        const std::vector<float> zeros(static_cast<size_t>(columns) * h, 0.0f);
        const float* low_values = low->coefficients ? low->coefficients : zeros.data();
        const float* high_values = high->coefficients ? high->coefficients : zeros.data();
        halves[side].resize(static_cast<size_t>(columns) * h);
        for (int32_t q = 0; q < columns; ++q) {
            synthesise_line(halves[side].data() + static_cast<size_t>(q) * h, 0, h - 1,
                            low_values + q, high_values + q, columns, low->size[1],
                            high->size[1]);
        }
    }
    std::vector<float> out(static_cast<size_t>(w) * h);
    for (int32_t r = 0; r < h; ++r) {
        synthesise_line(out.data() + static_cast<size_t>(r) * w, 0, w - 1, halves[0].data() + r,
                        halves[1].data() + r, h, (w + 1) / 2, w / 2);
    }
    return out;
}

// synthesise_line over X[a..b], with the band pointers placed as the region walk places them.
std::vector<float> windowed(const std::vector<float>& low, const std::vector<float>& high, int a,
                            int b) {
    auto ceil_half = [](int v) { return v >= 0 ? (v + 1) / 2 : -((-v) / 2); };
    const int lo = std::max(0, ceil_half(a - 3));
    const int hi = std::max(0, ceil_half(a - 5));
    std::vector<float> out(static_cast<size_t>(b - a + 1));
    synthesise_line(out.data(), a, b, low.data() + lo, high.empty() ? nullptr : high.data() + hi,
                    1, static_cast<int32_t>(low.size()), static_cast<int32_t>(high.size()));
    return out;
}

TEST(SynthesiseLine, RebuildsALineOfNineForEveryWindow) {
    const std::vector<float> x = {10, 200, 37.5f, -4, 99, 120, 121, 3, 250};
    std::vector<float> low, high;
    analyse(x, &low, &high);
    ASSERT_EQ(low.size(), 5u);
    ASSERT_EQ(high.size(), 4u);
    const std::vector<float> whole = windowed(low, high, 0, 8);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(whole[i], x[i], 2e-4f) << i;
    for (int a = 0; a <= 8; ++a) {
        for (int b = a; b <= 8; ++b) {
            const std::vector<float> part = windowed(low, high, a, b);
            for (int i = a; i <= b; ++i) ASSERT_EQ(part[i - a], whole[i]) << a << ".." << b;
        }
    }
}

// Every length, short lines included (reflected more than once), against the plain method.
TEST(SynthesiseLine, MatchesThePlainInverseForAllLengthsAndWindows) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-300.0f, 300.0f);
    for (int n = 1; n <= 40; ++n) {
        std::vector<float> low(static_cast<size_t>((n + 1) / 2)), high(static_cast<size_t>(n / 2));
        for (float& v : low) v = value(random);
        for (float& v : high) v = value(random);
        const std::vector<float> reference = naive_synthesis(low, high);
        for (int a = 0; a < n; ++a) {
            for (int b = a; b < n; ++b) {
                const std::vector<float> part = windowed(low, high, a, b);
                for (int i = a; i <= b; ++i) {
                    ASSERT_EQ(part[i - a], reference[i]) << "n " << n << " window " << a << ".."
                                                         << b << " at " << i;
                }
            }
        }
    }
}

TEST(SynthesiseLine, LongLinesAreDoneInPiecesWithTheSameBits) {
    std::mt19937 random(9);
    std::uniform_real_distribution<float> value(-100.0f, 100.0f);
    const int n = 1501;
    std::vector<float> low((n + 1) / 2), high(n / 2);
    for (float& v : low) v = value(random);
    for (float& v : high) v = value(random);
    const std::vector<float> reference = naive_synthesis(low, high);
    EXPECT_EQ(windowed(low, high, 0, n - 1), reference);
    const std::vector<float> tail = windowed(low, high, 700, 1400);
    EXPECT_EQ(tail, std::vector<float>(reference.begin() + 700, reference.begin() + 1401));
}

TEST(ConvertColours, GreyStaysGreyAndChromaGivesTheMatrixColumns) {
    pool_free_all();
    RegionNode nodes[3] = {};
    float y[2] = {100, 0}, i[2] = {0, 10}, q[2] = {0, 0};
    float* planes[3] = {y, i, q};
    for (int p = 0; p < 3; ++p) {
        nodes[p].x0 = 0;
        nodes[p].x1 = 1;
        nodes[p].coefficients = planes[p];
    }
    convert_colours(&nodes[0], &nodes[1], &nodes[2]);
    EXPECT_EQ(y[0], 100.0f);
    EXPECT_EQ(i[0], 100.0f);
    EXPECT_EQ(q[0], 100.0f);
    EXPECT_NEAR(y[1], 9.4521606f, 1e-5f);
    EXPECT_NEAR(i[1], -2.8935185f, 1e-5f);
    EXPECT_NEAR(q[1], -10.99537f, 1e-5f);
    convert_colours(nullptr, &nodes[1], &nodes[2]);  // no region: nothing happens
    EXPECT_NEAR(i[1], -2.8935185f, 1e-5f);
}

// The tiled node synthesis (vertical sweeps down row pieces, then the rows) gives the bits of
// synthesising every column and then every row alone: widths that leave vector remainders and
// span two tiles, heights of several row pieces, bands without arrays or of nothing but +0.0,
// and NaN, infinities and signed zeros among the values.
TEST(SynthesiseNode, MatchesLineByLineSynthesisBitForBit) {
    struct Shape {
        int32_t w, h;
        int zero_band;  // 0: none; 1: the high-high band has no array; 2: both high row bands +0.0
    };
    const Shape shapes[] = {{5, 3, 0}, {13, 70, 1}, {37, 131, 0}, {200, 9, 2}, {1031, 150, 0},
                            {2, 200, 1}};
    std::mt19937 rng(7);
    std::normal_distribution<float> value(0.0f, 30.0f);
    std::uniform_int_distribution<int> pick(0, 199);
    const std::function<float()> random_value = [&] {
        switch (pick(rng)) {
            case 0: return std::numeric_limits<float>::quiet_NaN();
            case 1: return -std::numeric_limits<float>::infinity();
            case 2: return -0.0f;
            case 3: return std::bit_cast<float>(uint32_t{0xFFC01234});  // a NaN with a payload
            default: return pick(rng) < 60 ? 0.0f : value(rng);
        }
    };
    const std::function<float()> zero = [] { return 0.0f; };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(testing::Message() << shape.w << " x " << shape.h);
        const int32_t wl = (shape.w + 1) / 2, wh = shape.w / 2;
        const int32_t hl = (shape.h + 1) / 2, hh = shape.h / 2;
        RegionNode node{};
        node.split = 1;
        node.x1 = shape.w - 1;
        node.y1 = shape.h - 1;
        int32_t size[2] = {shape.w, shape.h};
        node.size = size;
        node.children[0] = band_node(wl, hl, random_value);
        node.children[1] = band_node(wl, hh, shape.zero_band == 2 ? zero : random_value);
        node.children[2] = band_node(wh, hl, random_value);
        node.children[3] = band_node(wh, hh, shape.zero_band == 1   ? std::function<float()>{}
                                             : shape.zero_band == 2 ? zero
                                                                    : random_value);
        const std::vector<float> expected = node_by_lines(node);
        ASSERT_EQ(synthesise_node(&node), 0);
        // Where both addends of a step are NaN, which one comes out follows the machine's
        // operand order, which the compiler chooses per loop: NaNs are compared as NaNs.
        size_t differing = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            const float made = node.coefficients[i];
            const bool same = std::isnan(expected[i]) ? std::isnan(made)
                                                      : std::bit_cast<uint32_t>(expected[i]) ==
                                                            std::bit_cast<uint32_t>(made);
            differing += same ? 0 : 1;
        }
        EXPECT_EQ(differing, 0u);
        pool_free(node.coefficients);
        for (RegionNode* child : node.children) release_region(child);
    }
}

TEST(ReconstructRegion, LeavesAndNoNodeAreLeftAlone) {
    EXPECT_EQ(reconstruct_region(nullptr), 0);
    RegionNode leaf{};
    float v = 42;
    leaf.coefficients = &v;
    EXPECT_EQ(reconstruct_region(&leaf), 0);
    EXPECT_EQ(v, 42.0f);
}

}  // namespace
