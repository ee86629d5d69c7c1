#include "decode/wavelet.h"

#include <gtest/gtest.h>

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

TEST(ReconstructRegion, LeavesAndNoNodeAreLeftAlone) {
    EXPECT_EQ(reconstruct_region(nullptr), 0);
    RegionNode leaf{};
    float v = 42;
    leaf.coefficients = &v;
    EXPECT_EQ(reconstruct_region(&leaf), 0);
    EXPECT_EQ(v, 42.0f);
}

}  // namespace
