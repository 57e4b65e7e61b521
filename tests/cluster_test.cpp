// Unit tests of the clustering building blocks: the generator, the draw
// scale and the random centres, both distances with their rounding, the
// nearest-centre search, the MaxDist estimate and the never-opened test, the
// weighted draw of the k-means++ start and the choice among several starts.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "base/params.h"
#include "base/centres.h"
#include "cluster/distance.h"
#include "cluster/init.h"
#include "cluster/prune.h"
#include "cluster/random.h"
#include "cluster/starts.h"
#include "e2e.h"
#include "io/data_file.h"
#include "io/ranges.h"
#include "nearest_test_api.h"

using namespace kmeans;

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();

TEST(ClusterRandom, SeededWithOneGivesTheKnownDraws) {
    Rng rng{1};
    const int expected[] = {16838, 5758, 10113, 17515, 31051};
    for (int e : expected) EXPECT_EQ(draw(rng), e);
}

TEST(ClusterRandom, SeedAdvancesModulo2To32) {
    // seed 0 -> 12345; 12345 * 1103515245 + 12345 wraps around 2^32.
    Rng rng{0};
    EXPECT_EQ(draw(rng), static_cast<int>((12345u >> 16) & 32767u));
    EXPECT_EQ(rng.seed, 12345u);
    std::uint64_t next = (12345ull * 1103515245ull + 12345ull) % (1ull << 32);
    EXPECT_EQ(draw(rng), static_cast<int>((next >> 16) & 32767u));
    EXPECT_EQ(rng.seed, static_cast<std::uint32_t>(next));
}

TEST(ClusterRandom, DrawsStayWithin0To32767) {
    Rng rng{0xFFFFFFFFu};
    for (int i = 0; i < 10000; ++i) {
        int r = draw(rng);
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

TEST(ClusterInit, DrawScaleIsTheFloatNearestOneOver32767) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(draw_scale()), 0x38000100u);
    EXPECT_EQ(static_cast<double>(draw_scale()), 3.0518509447574615e-05);
}

// `K` centres over the given ranges, ready for the random centres.
struct InitFixture {
    Params p;
    std::unique_ptr<Ranges> ranges = std::make_unique<Ranges>();
    Centres clust;
    InitFixture(int K, const std::vector<float>& mins, const std::vector<float>& maxs) {
        p.clustering.clusters = K;
        ranges_reset(*ranges);
        for (std::size_t v = 0; v < mins.size(); ++v) {
            ranges->min[v] = mins[v];
            ranges->max[v] = maxs[v];
        }
        EXPECT_FALSE(failed(centres_alloc(p.levels, clust, K, static_cast<int>(mins.size()))));
    }
};

TEST(ClusterInit, FirstCentreForSeedOneAndRange0To10) {
    InitFixture fx(2, {0.0f}, {10.0f});
    Rng rng{1};
    random_centres(fx.p.levels, rng, *fx.ranges, fx.clust);
    EXPECT_EQ(static_cast<double>(fx.clust.row(0)[0]), 5.138706684112549);
    // The second draw, 5758: 5758 * c * 10 in double, rounded to float.
    const double c = 3.0518509447574615e-05;
    EXPECT_EQ(fx.clust.row(1)[0], static_cast<float>(5758.0 * c * 10.0));
}

TEST(ClusterInit, CentresTakeDrawsClusterOuterVariableInner) {
    // Seeded with 1, the draws are 16838, 5758, 10113, 17515, 31051, 5627.
    const std::vector<float> mins = {-2.0f, 100.0f, 0.5f};
    const std::vector<float> maxs = {3.0f, 100.0f, 0.75f};
    InitFixture fx(2, mins, maxs);
    Rng rng{1};
    random_centres(fx.p.levels, rng, *fx.ranges, fx.clust);
    const double c = 3.0518509447574615e-05;
    const int draws[] = {16838, 5758, 10113, 17515, 31051, 5627};
    for (int k = 0; k < 2; ++k) {
        for (int v = 0; v < 3; ++v) {
            double range = static_cast<float>(maxs[v] - mins[v]);
            float expected = static_cast<float>(draws[k * 3 + v] * c * range + static_cast<double>(mins[v]));
            EXPECT_EQ(fx.clust.row(k)[v], expected) << "k=" << k << " v=" << v;
        }
        // A constant variable gives every centre exactly its value.
        EXPECT_EQ(fx.clust.row(k)[1], 100.0f);
    }
    EXPECT_EQ(rng.seed, [] {
        Rng r{1};
        for (int i = 0; i < 6; ++i) draw(r);
        return r.seed;
    }());
}

TEST(ClusterInit, ProductsAreTakenInDoubleAndRoundedOnlyAtTheEnd) {
    // Seeded with 1, six centres of one variable: each is r * c * range +
    // min in double, rounded to float once. Rounding r * c or the product
    // with the range to float on the way changes some of them.
    struct Case {
        float lo, hi;
    };
    const Case cases[] = {{1.0e-3f, 1234.567f}, {-3.7f, 12.9f}, {1.1f, 7.7f}, {-100.25f, 3e6f}};
    const int draws[] = {16838, 5758, 10113, 17515, 31051, 5627};
    const double c = static_cast<double>(draw_scale());
    int differs = 0;
    for (const Case& t : cases) {
        InitFixture fx(6, {t.lo}, {t.hi});
        Rng rng{1};
        random_centres(fx.p.levels, rng, *fx.ranges, fx.clust);
        double range = static_cast<float>(t.hi - t.lo);
        for (int k = 0; k < 6; ++k) {
            float expected = static_cast<float>(draws[k] * c * range + static_cast<double>(t.lo));
            EXPECT_EQ(fx.clust.row(k)[0], expected) << t.lo << ".." << t.hi << " k=" << k;
            float early = static_cast<float>(
                static_cast<double>(static_cast<float>(draws[k] * c)) * range + static_cast<double>(t.lo));
            float product = static_cast<float>(
                static_cast<double>(static_cast<float>(draws[k] * c * range)) + static_cast<double>(t.lo));
            if (early != expected || product != expected) ++differs;
            // Every centre lies within the range.
            EXPECT_GE(fx.clust.row(k)[0], t.lo);
            EXPECT_LE(fx.clust.row(k)[0], t.hi);
        }
    }
    EXPECT_GT(differs, 0);  // the cases tell the roundings apart
}

TEST(ClusterInit, ExtremeDrawsGiveTheEndsOfTheRange) {
    // Seed 0 draws 0 first: the minimum exactly. Seed 24884 draws 32767
    // first: 0.99999999907 * 2.5 + 1.5 in double, which rounds to the
    // maximum as a float.
    for (std::uint32_t seed : {0u, 24884u}) {
        InitFixture fx(2, {1.5f}, {4.0f});
        Rng probe{seed};
        const int first = draw(probe);
        Rng rng{seed};
        random_centres(fx.p.levels, rng, *fx.ranges, fx.clust);
        EXPECT_EQ(fx.clust.row(0)[0], first == 0 ? 1.5f : 4.0f) << seed;
        EXPECT_EQ(first, seed == 0 ? 0 : 32767);
    }
}

// --- distances -------------------------------------------------------

// The kept start is the lowest sum; of equal sums the earlier one; a NaN
// never beats a number.
TEST(ClusterStarts, LowestSumWinsAndATieGoesToTheEarlierStart) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::vector<double> sse;
        int best;
    } cases[] = {
        {{5.0}, 0},
        {{3.0, 2.0, 2.0, 4.0}, 1},
        {{2.0, 2.0}, 0},
        {{1.0, std::nextafter(1.0, 0.0), 1.0}, 1},
        {{nan, 7.0, 7.0}, 1},
        {{7.0, nan, 6.0}, 2},
    };
    for (const auto& c : cases) EXPECT_EQ(best_start(c.sse), c.best) << ::testing::PrintToString(c.sse);
}

// A target picks the first row whose running sum of the weights exceeds it;
// rows of no weight are never picked; targets in any order; a target past the
// sum (rounding) picks the last row of weight. 2 + floor(ln K) candidates.
TEST(ClusterInit, WeightedDrawAndCandidateCount) {
    const double w[] = {0.0, 1.0, 0.0, 2.0, 0.5, 0.0};
    const std::vector<double> targets = {3.4, 0.0, 0.999, 1.0, 2.9999, 3.0, 3.5, 9.0};
    std::vector<std::int64_t> picked;
    pick_weighted(w, 6, targets, picked);
    EXPECT_EQ(picked, (std::vector<std::int64_t>{4, 1, 1, 3, 3, 4, 4, 4}));
    const double none[] = {0.0, 0.0};
    pick_weighted(none, 2, {0.0}, picked);
    EXPECT_EQ(picked, std::vector<std::int64_t>{0});
    const int K[] = {2, 3, 7, 8, 10, 20, 21, 768};
    const int L[] = {2, 3, 3, 4, 4, 4, 5, 8};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(kmeanspp_candidates(K[i]), L[i]) << K[i];
    Rng rng{1};
    const double u = draw_unit(rng);
    EXPECT_EQ(u, ((16838.0 * 32768 + 5758) * 32768 + 10113) / 35184372088832.0);
}

TEST(ClusterDistance, EqualRowsAreAtDistanceZero) {
    const float a[] = {1.5f, -2.25f, 1e30f, 0.0f};
    const float b[] = {1.5f, -2.25f, 1e30f, 0.0f};
    EXPECT_EQ(euclid_root(a, b, 4), 0.0);
    EXPECT_EQ(cityblock(a, b, 4), 0.0f);
    EXPECT_EQ(distance(false, a, b, 4), 0.0f);
    EXPECT_EQ(distance(true, a, b, 4), 0.0f);
}

TEST(ClusterDistance, NoVariablesGiveZero) {
    const float a[] = {1.0f};
    const float b[] = {2.0f};
    EXPECT_EQ(euclid_root(a, b, 0), 0.0);
    EXPECT_EQ(cityblock(a, b, 0), 0.0f);
}

TEST(ClusterDistance, SimpleValues) {
    const float a[] = {0.0f, 0.0f};
    const float b[] = {3.0f, -4.0f};
    EXPECT_EQ(euclid_root(a, b, 2), 5.0);
    EXPECT_EQ(cityblock(a, b, 2), 7.0f);
    EXPECT_EQ(distance(false, b, a, 2), 5.0f);
    EXPECT_EQ(distance(true, b, a, 2), 7.0f);
}

TEST(ClusterDistance, EuclideanSumsInDoubleRoundsTheSumToFloatTakesTheRootInDouble) {
    // Squares 2^24, 1, 1: a float running sum would stay at 2^24; the double
    // sum 16777218 is a float, and its root is taken in double.
    const float a[] = {4096.0f, 1.0f, 1.0f};
    const float b[] = {0.0f, 0.0f, 0.0f};
    EXPECT_EQ(euclid_root(a, b, 3), std::sqrt(16777218.0));
    EXPECT_NE(euclid_root(a, b, 3), 4096.0);
    EXPECT_EQ(distance(false, a, b, 3), static_cast<float>(std::sqrt(16777218.0)));

    // 1.1f squared in double is no float: the sum is rounded before the root.
    const float x[] = {1.1f};
    const float z[] = {0.0f};
    double sq = static_cast<double>(1.1f) * static_cast<double>(1.1f);
    double expected = std::sqrt(static_cast<double>(static_cast<float>(sq)));
    EXPECT_EQ(euclid_root(x, z, 1), expected);
    EXPECT_NE(euclid_root(x, z, 1), std::sqrt(sq));
}

TEST(ClusterDistance, CityblockSumsInDoubleAndRoundsToFloat) {
    const float a[] = {16777216.0f, 1.0f, 1.0f};
    const float b[] = {0.0f, 0.0f, 0.0f};
    EXPECT_EQ(cityblock(a, b, 3), 16777218.0f);

    // Differences taken in double: 1 - 2^-30 is no float, but the sum of
    // it and 2^24 rounds to float only at the end.
    const float c[] = {1.0f, 16777216.0f};
    const float d[] = {std::ldexp(1.0f, -30), 0.0f};
    EXPECT_EQ(cityblock(c, d, 2), static_cast<float>((1.0 - std::ldexp(1.0, -30)) + 16777216.0));
}

TEST(ClusterDistance, OverflowingSumsAreInfinite) {
    const float a[] = {-3.0e38f};
    const float b[] = {3.0e38f};
    EXPECT_EQ(euclid_root(a, b, 1), std::numeric_limits<double>::infinity());
    EXPECT_EQ(cityblock(a, b, 1), inf);
}

// --- nearest-centre search ---------------------------------------------

Centres make_centres(const std::vector<std::vector<float>>& rows) {
    Centres c;
    c.K = static_cast<int>(rows.size());
    c.nvars = static_cast<int>(rows[0].size());
    for (const auto& r : rows) c.v.insert(c.v.end(), r.begin(), r.end());
    return c;
}

struct NearestCase {
    const char* what;
    std::vector<std::vector<float>> centres;
    std::vector<float> row;
    bool cityblock;
    int winner;
    float best;
};

class ClusterNearest : public ::testing::TestWithParam<NearestCase> {};

TEST_P(ClusterNearest, FindsTheWinner) {
    const NearestCase& t = GetParam();
    Centres c = make_centres(t.centres);
    float best = -1.0f;
    int w = nearest_all(c, t.row.data(), c.nvars, c.K, t.cityblock, best);
    EXPECT_EQ(w, t.winner);
    EXPECT_EQ(best, t.best);
}

INSTANTIATE_TEST_SUITE_P(
    ClusterCases, ClusterNearest,
    ::testing::Values(
        NearestCase{"plain", {{0, 0}, {10, 10}, {4, 4}}, {5, 5}, false, 2, static_cast<float>(std::sqrt(2.0))},
        NearestCase{"tie of two goes to the lower index", {{0, 0}, {2, 0}, {1, 5}}, {1, 0}, false, 0, 1.0f},
        NearestCase{"tie after a worse one", {{9, 9}, {0, 1}, {0, -1}}, {0, 0}, false, 1, 1.0f},
        NearestCase{"all equal centres", {{3, 3}, {3, 3}, {3, 3}}, {3, 3}, true, 0, 0.0f},
        NearestCase{"cityblock tie", {{5, 0}, {0, 1}, {2, 2}}, {0, 0}, true, 1, 1.0f},
        NearestCase{"cityblock differs from euclid", {{2, 2}, {0, 3.5f}}, {0, 0}, true, 1, 3.5f},
        NearestCase{"euclid prefers the other", {{2, 2}, {0, 3.5f}}, {0, 0}, false, 0,
                    static_cast<float>(std::sqrt(8.0))},
        NearestCase{"one finite distance among infinite ones", {{3e38f}, {3e38f}, {-3e38f}}, {-3e38f}, false, 2,
                    0.0f},
        NearestCase{"every distance infinite (euclid)", {{3e38f}, {3e38f}}, {-3e38f}, false, 0, FLT_MAX},
        NearestCase{"every distance infinite (cityblock)", {{3e38f}, {3e38f}}, {-3e38f}, true, 0, FLT_MAX},
        NearestCase{"a distance equal to FLT_MAX is never taken", {{FLT_MAX}, {FLT_MAX}}, {0.0f}, true, 0, FLT_MAX},
        NearestCase{"a distance below FLT_MAX is", {{FLT_MAX}, {std::nextafter(FLT_MAX, 0.0f)}}, {0.0f}, true, 1,
                    std::nextafter(FLT_MAX, 0.0f)}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ClusterNearestFallback, SkippedCandidatesAndNone) {
    Centres c = make_centres({{3e38f}, {3e38f}, {3e38f}});
    const float row[] = {-3e38f};
    float best = 0.0f;
    // Every distance infinite, cluster 0 not a candidate: the lowest
    // candidate is 1 and best stays at the start value.
    int w = nearest(c, row, 1, 3, false, best, [](int k) { return k != 0; });
    EXPECT_EQ(w, 1);
    EXPECT_EQ(best, FLT_MAX);
    // No candidate at all.
    w = nearest(c, row, 1, 3, false, best, [](int) { return false; });
    EXPECT_EQ(w, -1);
    EXPECT_EQ(best, FLT_MAX);
    // Only the first ncand clusters are searched.
    Centres d = make_centres({{10}, {5}, {0}});
    const float zero[] = {0.0f};
    EXPECT_EQ(nearest_all(d, zero, 1, 2, false, best), 1);
    EXPECT_EQ(best, 5.0f);
    EXPECT_EQ(nearest_all(d, zero, 1, 3, false, best), 2);
    EXPECT_EQ(best, 0.0f);
}

TEST(ClusterNearestFallback, SkippedClusterDoesNotWinATie) {
    Centres c = make_centres({{1}, {1}, {1}});
    const float row[] = {0.0f};
    float best = 0.0f;
    EXPECT_EQ(nearest(c, row, 1, 3, false, best, [](int k) { return k != 0; }), 1);
    EXPECT_EQ(best, 1.0f);
}

// --- MaxDist estimate ----------------------------------------------------

struct MaxDistCase {
    std::vector<float> mins, maxs;
    int K;
    bool cityblock;
    float expected;
};

class ClusterMaxDist : public ::testing::TestWithParam<MaxDistCase> {};

TEST_P(ClusterMaxDist, Estimate) {
    const MaxDistCase& t = GetParam();
    auto r = std::make_unique<Ranges>();
    ranges_reset(*r);
    for (std::size_t v = 0; v < t.mins.size(); ++v) {
        r->min[v] = t.mins[v];
        r->max[v] = t.maxs[v];
    }
    EXPECT_EQ(estimate_maxdist(*r, static_cast<int>(t.mins.size()), t.K, t.cityblock), t.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ClusterCases, ClusterMaxDist,
    ::testing::Values(
        // Ranges 0..3 and 0..4, K = 5: 5 / 5 and 7 / 5.
        MaxDistCase{{0, 0}, {3, 4}, 5, false, 1.0f}, MaxDistCase{{0, 0}, {3, 4}, 5, true, 1.4f},
        // Constant variables add nothing; all constant gives 0.
        MaxDistCase{{0, 7, 0}, {3, 7, 4}, 5, false, 1.0f}, MaxDistCase{{7, 7}, {7, 7}, 3, false, 0.0f},
        MaxDistCase{{7, 7}, {7, 7}, 3, true, 0.0f},
        // The sum is rounded to float before the root and the division:
        // squares 2^24, 1, 1 sum to 16777218 in double.
        MaxDistCase{{0, 0, 0}, {4096, 1, 1}, 3, false, static_cast<float>(std::sqrt(16777218.0) / 3.0)},
        MaxDistCase{{-1, 0}, {2, 0.5f}, 7, true, static_cast<float>(3.5 / 7.0)},
        MaxDistCase{{0}, {1}, 3, false, static_cast<float>(1.0 / 3.0)}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// --- never-opened test ----------------------------------------------------

struct OpenCase {
    float first;
    float second;
    bool never;
};

class ClusterNeverOpened : public ::testing::TestWithParam<OpenCase> {};

TEST_P(ClusterNeverOpened, FirstValueDecides) {
    const OpenCase& t = GetParam();
    const float centre[] = {t.first, t.second};
    EXPECT_EQ(never_opened(centre), t.never) << t.first;
}

INSTANTIATE_TEST_SUITE_P(
    ClusterCases, ClusterNeverOpened,
    ::testing::Values(OpenCase{FLT_MAX, FLT_MAX, true}, OpenCase{FLT_MAX, 0.0f, true}, OpenCase{inf, 0.0f, true},
                      OpenCase{std::bit_cast<float>(0x7FC00000u), 0.0f, true},  // a positive NaN pattern
                      OpenCase{std::nextafter(FLT_MAX, 0.0f), FLT_MAX, false},
                      OpenCase{3.4e38f, FLT_MAX, false}, OpenCase{0.0f, FLT_MAX, false},
                      OpenCase{1.0f, 0.0f, false}, OpenCase{-FLT_MAX, FLT_MAX, false},
                      OpenCase{-inf, 0.0f, false}, OpenCase{-0.0f, 0.0f, false},
                      OpenCase{std::bit_cast<float>(0xFFC00000u), 0.0f, false}),  // a negative NaN pattern
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ClusterNeverOpened, MarkerIsTheLargestFiniteFloat) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(marker), 0x7F7FFFFFu);
    EXPECT_EQ(static_cast<double>(marker), 3.4028234663852886e+38);
}

}  // namespace

// The search measures 8 centres at a time in every kernel, compares sums
// against cuts instead of roots, and drops groups whose partial sums reach the
// cut; it must pick exactly what measuring every distance in order would
// pick, bit for bit, whatever K, nvars, ties, skipped clusters or huge values,
// on every kernel this processor runs, one row at a time and in blocks, and
// after centres of a prepared set were changed one by one.
TEST(ClusterNearestEquivalence, MatchesMeasuringEveryDistanceInOrder) {
    std::uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = lcg_step(seed);
        return seed >> 8;
    };
    // Few distinct values give many ties; values near 3000 give different
    // sums of squares that round to the same root; huge ones give infinite
    // distances (and with infinite values, NaN ones, which never win).
    const float few[] = {0.0f, 1.0f, -1.0f, 2.5f, 3000.0f, 3000.25f, 2999.75f};
    const float huge[] = {1e19f, -1e19f, 3e38f, -3e38f, FLT_MAX, inf, -inf, 0.0f};
    // Value v of a centre or a row, drawn by `kind`.
    auto any_value = [&](std::uint32_t kind, int v, bool centre) {
        switch (kind) {
        case 0: return few[next() % 4];
        case 1: return few[next() % 7];
        case 2: return next() % 8 == 0 ? huge[next() % 8] : few[next() % 7];
        // Values of every size whose sums are not exact.
        case 3: return std::bit_cast<float>(0x3F800000u + next() % (1u << 23)) * (next() % 2 ? 1.0f : -3e3f);
        case 4: return std::ldexp(static_cast<float>(next() % 1000) - 500.0f, static_cast<int>(next() % 60) - 30);
        // Sums of squares near 3000^2 a few units apart: neighbouring sums
        // often have the same root, so equal distances come from different
        // sums.
        default:
            if (v == 0) return centre ? few[4 + next() % 3] : 0.0f;
            return static_cast<float>(static_cast<int>(next() % 3) - (centre ? 1 : 0));
        }
    };
    std::vector<NearestPath> paths;
    for (NearestPath path : {NearestPath::portable, NearestPath::avx2, NearestPath::avx512})
        if (nearest_path_runs(path)) paths.push_back(path);
    ASSERT_TRUE(nearest_path_runs(nearest_path_best()));

    for (int trial = 0; trial < 1500; ++trial) {
        const int K = 1 + static_cast<int>(trial % 5 == 0 ? next() % 800 : next() % 40);
        const int nvars = 1 + static_cast<int>(trial % 3 == 0 ? next() % 70 : next() % 12);
        const int width = nvars + static_cast<int>(next() % 3);  // centres and rows wider than searched
        const bool cb = next() % 2 == 0;
        const std::uint32_t kind = next() % 6;
        Centres c;
        c.K = K;
        c.nvars = width;
        for (int i = 0; i < K * width; ++i) c.v.push_back(any_value(kind, i % width, true));
        const int nrows = 1 + static_cast<int>(next() % 6);
        std::vector<float> rows(static_cast<std::size_t>(nrows * width));
        for (std::size_t i = 0; i < rows.size(); ++i)
            rows[i] = next() % 4 || kind == 5 ? any_value(kind, static_cast<int>(i % static_cast<std::size_t>(width)), false)
                                              : static_cast<float>(next() % 3);
        // Candidates: all, about half, a few, or none.
        const std::uint32_t density = next() % 4;
        std::vector<char> mask(static_cast<std::size_t>(K));
        for (char& m : mask) m = density == 0 || (density == 1 && next() % 2) || (density == 2 && next() % 9 == 0);
        auto take = [&mask](int k) { return mask[static_cast<std::size_t>(k)] != 0; };
        const bool all = density == 0;

        // The plain search, and a prepared set built with every cluster and
        // then brought to the mask one centre at a time (from stale values,
        // or every other centre and the skipped ones).
        Centres stale = c;
        for (float& v : stale.v) v = -v;
        const bool from_stale = next() % 2 == 0;
        CentreSet prepared;
        centres_prepare_all(prepared, from_stale ? stale : c, nvars, K, cb);
        for (int k = 0; k < K; ++k)
            if (from_stale || k % 2 == 0 || !take(k)) centres_update(prepared, c, k, take(k));
        for (int r = 0; r < nrows; ++r) {
            const float* x = rows.data() + static_cast<std::size_t>(r * width);
            float want_best = FLT_MAX;
            int want = -1, first = -1;
            for (int k = 0; k < K; ++k) {
                if (!take(k)) continue;
                if (first < 0) first = k;
                float d = distance(cb, x, c.row(k), nvars);
                if (d < want_best) {
                    want_best = d;
                    want = k;
                }
            }
            if (want < 0) want = first;
            const std::uint32_t want_bits = std::bit_cast<std::uint32_t>(want_best);
            float best = -1.0f;
            int got = nearest(c, x, nvars, K, cb, best, take);
            ASSERT_EQ(got, want) << "trial " << trial;
            ASSERT_EQ(std::bit_cast<std::uint32_t>(best), want_bits) << "trial " << trial;
            if (all) {
                got = nearest_all(c, x, nvars, K, cb, best);
                ASSERT_EQ(got, want) << "trial " << trial;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(best), want_bits) << "trial " << trial;
            }
            for (NearestPath path : paths) {
                best = -1.0f;
                got = nearest_with(path, c, x, nvars, K, cb, best, take);
                ASSERT_EQ(got, want) << "trial " << trial << " " << nearest_path_name(path);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(best), want_bits) << "trial " << trial;
                if (!all) continue;
                best = -1.0f;
                got = nearest_all_with(path, c, x, nvars, K, cb, best);
                ASSERT_EQ(got, want) << "trial " << trial << " all " << nearest_path_name(path);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(best), want_bits) << "trial " << trial;
            }
        }
        for (NearestPath path : paths) {
            prepared.path = path;
            std::vector<std::int32_t> winners(static_cast<std::size_t>(nrows), -2);
            std::vector<float> bests(static_cast<std::size_t>(nrows), -1.0f);
            nearest_rows(prepared, rows.data(), static_cast<std::size_t>(nrows), width, winners.data(), bests.data());
            for (int r = 0; r < nrows; ++r) {
                float best = -1.0f;
                const int want = nearest(c, rows.data() + static_cast<std::size_t>(r * width), nvars, K, cb, best, take);
                ASSERT_EQ(winners[static_cast<std::size_t>(r)], want) << "trial " << trial << " block "
                                                                      << nearest_path_name(path);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(bests[static_cast<std::size_t>(r)]),
                          std::bit_cast<std::uint32_t>(best))
                    << "trial " << trial;
            }
        }
    }

    // A sum that only the variable order gives: 4096^2 + 1 (Cityblock:
    // 2^24 + 1) lies halfway between two floats and rounds down to the even
    // one; the 64 terms of 2^-34 that follow vanish when added one by one, but
    // not when added among themselves first (the sum would round up). No
    // kernel may regroup the additions.
    for (const bool cb : {false, true}) {
        const int nvars = 66;
        Centres c;
        c.K = 20;
        c.nvars = nvars;
        for (int k = 0; k < c.K; ++k)
            for (int v = 0; v < nvars; ++v)
                c.v.push_back(v == 0 ? (cb ? 16777216.0f : 4096.0f) : v == 1 ? 1.0f : std::ldexp(1.0f, cb ? -34 : -17));
        const std::vector<float> x(nvars, 0.0f);
        const float want = distance(cb, x.data(), c.row(0), nvars);
        ASSERT_EQ(want, cb ? 16777216.0f : 4096.0f);
        CentreSet prepared;
        centres_prepare_all(prepared, c, nvars, c.K, cb);
        for (NearestPath path : paths) {
            float best = 0.0f;
            EXPECT_EQ(nearest_with(path, c, x.data(), nvars, c.K, cb, best, [](int) { return true; }), 0);
            EXPECT_EQ(best, want) << nearest_path_name(path);
            EXPECT_EQ(nearest_all_with(path, c, x.data(), nvars, c.K, cb, best), 0);
            EXPECT_EQ(best, want) << nearest_path_name(path);
            prepared.path = path;
            EXPECT_EQ(nearest_prepared(prepared, x.data(), best), 0);
            EXPECT_EQ(best, want) << nearest_path_name(path);
        }
    }
}

// What the search relies on when it takes roots 8 at a time and compares
// sums instead of roots, for sums of every size: the distance of a float sum
// is its single-precision root, and the cut of a distance r separates the
// sums exactly (a sum below it has a distance of at most r, a sum at or
// above it a larger one).
TEST(ClusterNearestEquivalence, RootsAndCutsOfSums) {
    auto root = [](float s) { return static_cast<float>(std::sqrt(static_cast<double>(s))); };
    std::uint32_t seed = 777;
    for (int i = 0; i < 200000; ++i) {
        seed = lcg_step(seed);
        // Any finite sum that is not negative, zero and the smallest ones too.
        const std::uint32_t bits = i < 64 ? static_cast<std::uint32_t>(i) : seed % 0x7F800000u;
        const float s = std::bit_cast<float>(bits);
        const float r = root(s);
        ASSERT_EQ(std::sqrt(s), r) << s;  // the float overload
        const float cut = euclid_cut(r);
        ASSERT_GT(cut, s) << s;
        ASSERT_EQ(root(std::nextafter(cut, 0.0f)), r) << s;  // the largest sum below the cut
        if (cut < inf) {
            ASSERT_GT(root(cut), r) << s;
        }
    }
    EXPECT_EQ(euclid_cut(0.0f), std::nextafter(0.0f, 1.0f));
    EXPECT_EQ(euclid_cut(root(FLT_MAX)), inf);
}

// Pruned SKM passes (prune.h) give the winners of the plain search, pass
// after pass, on every kernel: near-ties (centres a few float steps apart,
// so different exact distances round to the same or the reverse order),
// few distinct values (exact ties, duplicate centres), values near the
// float limits (sums that overflow, differences that underflow), equal
// distances of different sums, centres
// that stay, creep by a few float steps, jump, or become a copy of another.
TEST(ClusterPrune, PrunedPassesMatchThePlainSearch) {
    struct Case {
        int nvars, K, rows;
    };
    const Case cases[] = {{1, 2, 400},   {1, 9, 400},  {7, 9, 400},   {8, 2, 400},    {8, 100, 200},
                          {8, 768, 120}, {9, 9, 400},  {31, 140, 60}, {127, 9, 200},  {128, 2, 200},
                          {128, 768, 24}, {2048, 9, 24}, {2048, 768, 2}};
    std::vector<NearestPath> paths;
    for (NearestPath path : {NearestPath::portable, NearestPath::avx2, NearestPath::avx512})
        if (nearest_path_runs(path)) paths.push_back(path);
    std::int64_t kept = 0;
    std::uint32_t seed = 777;
    auto next = [&seed]() {
        seed = lcg_step(seed);
        return seed >> 8;
    };
    auto unit = [&]() { return static_cast<float>(next() % 65536) / 65536.0f; };
    for (const Case& t : cases)
        for (int kind = 0; kind < 5; ++kind)
            for (const bool cb : {false, true}) {
                const std::size_t nv = static_cast<std::size_t>(t.nvars);
                // Value v of a row or a centre by kind. Kind 3: sums of
                // squares near 3000^2 a few units apart, so that equal
                // distances come from different sums. Kind 4: near 0, where
                // the screened searches take them.
                auto value = [&](std::size_t v, bool centre) {
                    switch (kind) {
                    case 0: return 1000.0f + unit();
                    case 4: return unit();
                    case 1: return static_cast<float>(next() % 3);
                    case 2: {
                        const float scale[] = {1e19f, -1e19f, 1e-20f, 3e38f};
                        return scale[next() % 4] * (1.0f + unit());
                    }
                    default:
                        if (v == 0) return centre ? 2999.75f + 0.25f * static_cast<float>(next() % 3) : 0.0f;
                        return static_cast<float>(static_cast<int>(next() % 3) - (centre ? 1 : 0));
                    }
                };
                Centres c;
                c.K = t.K;
                c.nvars = t.nvars;
                c.v.resize(nv * static_cast<std::size_t>(t.K));
                for (std::size_t i = 0; i < c.v.size(); ++i) c.v[i] = value(i % nv, true);
                if (kind == 0 || kind == 4)  // pairs of centres a few float steps apart
                    for (int k = 1; k < t.K; k += 2)
                        for (std::size_t v = 0; v < nv; ++v)
                            c.row(k)[v] = std::nextafter(c.row(k - 1)[v], (next() % 2) ? 1e30f : -1e30f);
                std::vector<float> rows(nv * static_cast<std::size_t>(t.rows));
                for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = value(i % nv, false);
                for (NearestPath path : paths)
                for (const bool screened : {false, true}) {
                    // The searches of whole rows screened by float products
                    // (centres_block()) where they may apply.
                    if (screened && (cb || path == NearestPath::portable || (kind != 1 && kind != 4))) continue;
                    Centres cur = c, before = c;
                    Workers workers;
                    DataFile data;
                    data.workers = &workers;
                    data.nvars = t.nvars;
                    data.N = t.rows;
                    Resources res;
                    PruneBounds bounds;
                    std::vector<PruneScratch> scratch;
                    prune_start(bounds, scratch, res, data, t.K, cb);
                    ASSERT_TRUE(bounds.on);
                    std::vector<std::int32_t> got(static_cast<std::size_t>(t.rows), -1), want(got.size());
                    std::vector<float> best(got.size());
                    std::uint32_t moves = seed;
                    const int passes = 6;
                    for (int pass = 0; pass < passes; ++pass) {
                        CentreSet set;
                        centres_prepare_all(set, cur, t.nvars, t.K, cb);
                        set.path = path;
                        if (screened) centres_block(set, cur);
                        bounds.path = path;
                        prune_pass(bounds, cur);
                        nearest_rows(set, rows.data(), got.size(), t.nvars, want.data(), best.data());
                        // Two blocks, the second starting at an odd row.
                        const std::int64_t half = t.rows / 2 + 1;
                        prune_block(bounds, scratch[0], set, cur, rows.data(), 0, half, got.data());
                        prune_block(bounds, scratch[0], set, cur, rows.data() + static_cast<std::size_t>(half) * nv,
                                    half, t.rows - half, got.data());
                        ASSERT_EQ(got, want) << t.nvars << "x" << t.K << " kind " << kind << " cb " << cb << " pass "
                                             << pass << " " << nearest_path_name(path) << (screened ? " screened" : "");
                        // Every stored bound holds against the exact distances (long
                        // double; on one kernel: the bounds are the same on all).
                        for (std::size_t r = 0; r < (path == paths[0] && !screened ? got.size() : 0); ++r) {
                            long double other = HUGE_VALL;
                            for (int k = 0; k < t.K; ++k) {
                                long double sum = 0.0L;
                                for (std::size_t v = 0; v < nv; ++v) {
                                    const long double d = static_cast<long double>(rows[r * nv + v]) - cur.row(k)[v];
                                    sum += cb ? std::fabs(d) : d * d;
                                }
                                const long double dist = cb ? sum : std::sqrt(sum);
                                if (std::isnan(dist)) continue;  // infinite values (kind 2)
                                if (k == got[r]) ASSERT_GE(bounds.upper[r], dist) << "row " << r << " pass " << pass;
                                else other = std::min(other, dist);
                            }
                            ASSERT_LE(bounds.lower[r], other) << "row " << r << " pass " << pass;
                        }
                        before.v = cur.v;
                        for (int k = 0; k < t.K; ++k) {
                            moves = lcg_step(moves);
                            float* ck = cur.row(k);
                            const std::uint32_t how = (moves >> 8) % 8;
                            for (std::size_t v = 0; v < nv; ++v) {
                                moves = lcg_step(moves);
                                if (how == 1) ck[v] = std::nextafter(ck[v], (moves >> 9) % 2 ? 1e30f : -1e30f);
                                else if (how == 2 && kind != 2 && kind != 3) ck[v] += static_cast<float>((moves >> 8) % 64) / 4096.0f;
                                else if (how == 3 && k > 0) ck[v] = cur.row(k - 1)[v];
                                else if (how == 4 && v == 0) ck[v] = value(v, true);
                            }
                        }
                        prune_moved(bounds, before, cur, 0);  // 0 searched: every later pass pruned
                    }
                    kept += static_cast<std::int64_t>(t.rows) * passes * static_cast<std::int64_t>(bounds.order.size() / 8) -
                            scratch[0].searched;
                    ASSERT_TRUE(bounds.ready);
                }
            }
    EXPECT_GT(kept, 0);  // the bounds did keep winners
}

// The blocked search (float products, then exact sums for the centres within
// the error bound), and the screened search of short rows, give the plain
// search's winners and distances bit for bit on every vector kernel, and a
// lower bound of every centre's sum at most the plain one: centres a float
// step apart around 1000 (products
// far larger than the distances), few distinct values (exact ties,
// duplicate centres), values near the float limits (rows and centres that
// must take the plain search, products that underflow), equal distances of
// different sums, and centres that are not candidates.
TEST(ClusterBlocked, BlockedSearchMatchesThePlainSearch) {
    struct Case {
        int nvars, K, rows;
    };
    const Case cases[] = {{1, 100, 20},  {7, 600, 30},  {8, 768, 20},  {9, 500, 40},  {31, 140, 30},
                          {32, 32, 50},  {33, 100, 40}, {127, 9, 20},  {127, 33, 50}, {128, 2, 20},
                          {128, 256, 30}, {128, 768, 9}, {2048, 32, 9}, {2048, 768, 5}};
    std::vector<NearestPath> paths;
    for (NearestPath path : {NearestPath::avx2, NearestPath::avx512})
        if (nearest_path_runs(path)) paths.push_back(path);
    if (paths.empty()) GTEST_SKIP() << "no vector kernel on this processor";
    std::uint32_t seed = 4242;
    auto next = [&seed]() {
        seed = lcg_step(seed);
        return seed >> 8;
    };
    auto unit = [&]() { return static_cast<float>(next() % 65536) / 65536.0f; };
    int blocked = 0, short_rows = 0;
    for (const Case& t : cases)
        for (int kind = 0; kind < 6; ++kind) {
            const std::size_t nv = static_cast<std::size_t>(t.nvars);
            auto value = [&](std::size_t v, bool centre) {
                switch (kind) {
                case 1: return static_cast<float>(next() % 3);
                case 2: {
                    const float scale[] = {1.0f, 1e19f, 1e-20f, 3e38f, 1e-30f};
                    return scale[next() % 5 == 0 ? 1 + next() % 4 : 0] * (1.0f + unit());
                }
                case 3:
                    if (v == 0) return centre ? 2999.75f + 0.25f * static_cast<float>(next() % 3) : 0.0f;
                    return static_cast<float>(static_cast<int>(next() % 3) - (centre ? 1 : 0));
                case 5: return unit();  // near 0: the short rows' screening takes them
                default: return 1000.0f + unit() * 0.01f;
                }
            };
            Centres c;
            c.K = t.K;
            c.nvars = t.nvars;
            c.v.resize(nv * static_cast<std::size_t>(t.K));
            for (std::size_t i = 0; i < c.v.size(); ++i) c.v[i] = value(i % nv, true);
            if (kind == 0 || kind == 4 || kind == 5)  // pairs of centres a float step apart
                for (int k = 1; k < t.K; k += 2)
                    for (std::size_t v = 0; v < nv; ++v)
                        c.row(k)[v] = std::nextafter(c.row(k - 1)[v], (next() % 2) ? 1e30f : -1e30f);
            if (kind == 2 && t.K > 3)  // a few all-huge centres, and rows that are all tiny
                for (std::size_t v = 0; v < nv; ++v) c.row(3)[v] = 1e19f;
            std::vector<float> rows(nv * static_cast<std::size_t>(t.rows));
            for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = value(i % nv, false);
            if (kind == 2)
                for (std::size_t v = 0; v < nv; ++v) rows[v] = 1e-25f;
            std::vector<char> mask(static_cast<std::size_t>(t.K), 1);
            if (kind == 4)
                for (char& m : mask) m = next() % 2;
            mask[1] = 1;
            for (NearestPath path : paths) {
                CentreSet plain;
                centres_prepare(plain, c, t.nvars, t.K, false,
                                path == NearestPath::avx2 ? Kernel::avx2 : Kernel::avx512,
                                [&](int k) { return mask[static_cast<std::size_t>(k)] != 0; });
                CentreSet fast = plain;
                // Short rows take the screened search only where it pays,
                // and not with centres whose squares would overflow a float
                // (kind 2).
                const bool screened = centres_block(fast, c);
                if (t.nvars >= blocked_from) {
                    ASSERT_EQ(screened, t.K >= blocked_min_k);
                } else {
                    ASSERT_EQ(screened, t.K * t.nvars >= short_min_cost && kind != 2);
                }
                (t.nvars >= blocked_from ? blocked : short_rows) += screened;
                const std::size_t n = static_cast<std::size_t>(t.rows);
                std::vector<std::int32_t> want(n), got(n);
                std::vector<float> want_best(n), got_best(n);
                nearest_rows(plain, rows.data(), n, t.nvars, want.data(), want_best.data());
                nearest_rows(fast, rows.data(), n, t.nvars, got.data(), got_best.data());
                const std::string what = std::to_string(t.nvars) + "x" + std::to_string(t.K) + " kind " +
                                         std::to_string(kind) + " " + nearest_path_name(path);
                ASSERT_EQ(got, want) << what;
                for (std::size_t i = 0; i < n; ++i)
                    ASSERT_EQ(std::bit_cast<std::uint32_t>(got_best[i]), std::bit_cast<std::uint32_t>(want_best[i]))
                        << what << " row " << i;
                std::vector<float> want_second(n), got_second(n);
                nearest_rows_second(plain, rows.data(), n, t.nvars, want.data(), want_best.data(), want_second.data());
                nearest_rows_second(fast, rows.data(), n, t.nvars, got.data(), got_best.data(), got_second.data());
                ASSERT_EQ(got, want) << what;
                for (std::size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(std::bit_cast<std::uint32_t>(got_best[i]), std::bit_cast<std::uint32_t>(want_best[i]))
                        << what << " row " << i;
                    ASSERT_LE(got_second[i], want_second[i]) << what << " row " << i;
                }
                const std::size_t w = static_cast<std::size_t>(plain.width);
                std::vector<float> want_room(n * w + 8), got_room(n * w + 8);
                float* want_low = want_room.data() + (32 - reinterpret_cast<std::uintptr_t>(want_room.data()) % 32) % 32 / 4;
                float* got_low = got_room.data() + (32 - reinterpret_cast<std::uintptr_t>(got_room.data()) % 32) % 32 / 4;
                nearest_rows_lows(plain, rows.data(), n, t.nvars, want.data(), want_best.data(), want_low);
                nearest_rows_lows(fast, rows.data(), n, t.nvars, got.data(), got_best.data(), got_low);
                ASSERT_EQ(got, want) << what;
                for (std::size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(std::bit_cast<std::uint32_t>(got_best[i]), std::bit_cast<std::uint32_t>(want_best[i]))
                        << what << " row " << i;
                    for (std::size_t k = 0; k < w; ++k) {
                        const float sum = euclid_sum(rows.data() + i * nv, c.row(static_cast<int>(std::min<std::size_t>(k, static_cast<std::size_t>(t.K) - 1))), t.nvars);
                        if (k >= static_cast<std::size_t>(t.K) || !mask[k]) {
                            ASSERT_TRUE(std::isnan(want_low[i * w + k]) && std::isnan(got_low[i * w + k])) << what;
                            continue;
                        }
                        if (std::isnan(sum)) {  // values beyond the float range: never a winner
                            ASSERT_TRUE(std::isnan(want_low[i * w + k])) << what;
                            continue;
                        }
                        ASSERT_EQ(std::bit_cast<std::uint32_t>(want_low[i * w + k]), std::bit_cast<std::uint32_t>(sum)) << what;
                        ASSERT_LE(got_low[i * w + k], sum) << what << " row " << i << " centre " << k;
                    }
                }
            }
        }
    EXPECT_GT(blocked, 0);
    EXPECT_GT(short_rows, 0);
}
