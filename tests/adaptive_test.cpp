// Unit tests of the adaptive update and the rate schedule shared by AKM and
// AKMDI: the move of a centre towards a row and Alpha times ItParam.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "cluster/algorithms.h"
#include "cluster/nearest.h"

using namespace kmeans;

namespace {

struct PullCase {
    float centre;
    float row;
    float alpha;
    float want;
};

class AdaptivePullCentre : public ::testing::TestWithParam<PullCase> {};

TEST_P(AdaptivePullCentre, MovesByAlphaTimesDifference) {
    const PullCase& c = GetParam();
    float centre[1] = {c.centre};
    const float row[1] = {c.row};
    pull_centre(centre, row, 1, c.alpha);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(centre[0]), std::bit_cast<std::uint32_t>(c.want))
        << "got " << centre[0] << ", want " << c.want;
}

INSTANTIATE_TEST_SUITE_P(
    Values, AdaptivePullCentre,
    ::testing::Values(PullCase{0.0f, 10.0f, 0.5f, 5.0f},     // halfway
                      PullCase{5.0f, 10.0f, 0.5f, 7.5f},     // halfway again
                      PullCase{0.0f, 10.0f, 1.0f, 10.0f},    // onto the row
                      PullCase{0.0f, 10.0f, 2.0f, 20.0f},    // past the row
                      PullCase{3.0f, 3.0f, 0.5f, 3.0f},      // a row on the centre does not move it
                      PullCase{10.0f, -6.0f, 0.25f, 6.0f},   // 10 + 0.25 * -16
                      // 7 + 0.7f * 13 taken in double is 16.0999998 and rounds to
                      // 16.1000004; single-precision steps would give 16.0999985.
                      PullCase{7.0f, 20.0f, 0.7f, 16.100000381469727f}));

TEST(AdaptivePullCentre, DoublePrecisionStepsDifferFromSingle) {
    // The case above is only meaningful if single-precision arithmetic
    // would give another value.
    volatile float a = 0.7f, c = 7.0f, x = 20.0f;
    float diff = x - c;
    float step = a * diff;
    float single = c + step;
    EXPECT_NE(single, 16.100000381469727f);
}

TEST(AdaptivePullCentre, EveryVariableMovesAndNothingBeyond) {
    float centre[4] = {0.0f, 10.0f, -4.0f, 99.0f};
    const float row[4] = {2.0f, 0.0f, 4.0f, 1.0f};
    pull_centre(centre, row, 3, 0.5f);
    EXPECT_EQ(centre[0], 1.0f);
    EXPECT_EQ(centre[1], 5.0f);
    EXPECT_EQ(centre[2], 0.0f);
    EXPECT_EQ(centre[3], 99.0f);  // only the first nvars values belong to the centre
}

// The move of a prepared centre (as the adaptive passes make it) gives the
// bits of pull_centre() in the centre and, in its columns, those of a fresh
// layout, on every kernel; the other centres' columns stay as they were.
TEST(AdaptivePullCentre, PreparedMoveEqualsPlainMoveOnEveryKernel) {
    constexpr int K = 9, nvars = 7;
    for (Kernel kernel : {Kernel::portable, Kernel::avx2, Kernel::avx512}) {
        if (!nearest_kernel_runs(kernel)) continue;
        SCOPED_TRACE(static_cast<int>(kernel));
        Centres moved, plain;
        moved.K = plain.K = K;
        moved.nvars = plain.nvars = nvars;
        std::uint32_t seed = 5;
        auto next = [&] {
            seed = seed * 1103515245u + 12345u;
            return static_cast<float>(static_cast<std::int32_t>(seed >> 4) % 2000001 - 1000000) / 997.0f;
        };
        for (int i = 0; i < K * nvars; ++i) moved.v.push_back(next());
        plain = moved;
        CentreSet set, fresh;
        centres_prepare_all(set, moved, nvars, K, false, kernel);
        for (int k : {0, 3, 4, 8, 3, 7}) {
            float row[nvars];
            for (float& x : row) x = next();
            const float alpha = 0.3f + static_cast<float>(k) * 0.07f;
            centres_pull(set, moved, k, row, alpha);
            pull_centre(plain.row(k), row, nvars, alpha);
        }
        centres_prepare_all(fresh, plain, nvars, K, false, kernel);
        for (std::size_t i = 0; i < plain.v.size(); ++i)
            EXPECT_EQ(std::bit_cast<std::uint32_t>(moved.v[i]), std::bit_cast<std::uint32_t>(plain.v[i])) << i;
        ASSERT_EQ(set.cols.size(), fresh.cols.size());
        for (std::size_t i = 0; i < set.cols.size(); ++i)
            EXPECT_EQ(std::bit_cast<std::uint64_t>(set.cols[i]), std::bit_cast<std::uint64_t>(fresh.cols[i])) << i;
    }
}

// The adaptive pass a row at a time (each row's sums taken before the row
// ahead of it moves its winner, the moved centre's sum taken again) gives
// the winners and centres of searching every row in full after the move
// before it, with the portable kernel, on rows that tie (duplicate centres
// and rows, integer grids), lie far apart (near the single-precision
// limit, where sums overflow to infinity) and on both distances.
TEST(AdaptivePass, RowAtATimeEqualsTheFullSearchAfterEveryMove) {
    std::uint32_t seed = 17;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int checked = 0;
    for (int K : {2, 3, 7, 8})
        for (int nvars : {1, 2, 7, 8, 9, 16})
            for (int kind = 0; kind < 3; ++kind)
                for (bool cityblock : {false, true}) {
                    SCOPED_TRACE(testing::Message() << "K=" << K << " nvars=" << nvars << " kind=" << kind
                                                    << " cityblock=" << cityblock);
                    auto value = [&]() -> float {
                        switch (kind) {
                        case 0: return static_cast<float>(next() % 5);                 // grid: many ties
                        case 1: return static_cast<float>(next() % 2001) / 7.0f - 140.0f;
                        default: return (next() % 2 ? 1.0f : -1.0f) * 3.0e38f * static_cast<float>(next() % 4) / 3.0f;
                        }
                    };
                    Centres plain;
                    plain.K = K;
                    plain.nvars = nvars;
                    for (int i = 0; i < K * nvars; ++i) plain.v.push_back(value());
                    if (K > 2) std::copy(plain.row(0), plain.row(0) + nvars, plain.row(1));  // a duplicate centre
                    const int n = 300;
                    std::vector<float> rows;
                    for (int i = 0; i < n * nvars; ++i) rows.push_back(value());
                    Centres fast = plain;
                    CentreSet ps, fs;
                    centres_prepare_all(ps, plain, nvars, K, cityblock, Kernel::portable);
                    centres_prepare_all(fs, fast, nvars, K, cityblock, Kernel::automatic);
                    if (!adaptive_pass_runs(fs)) continue;
                    std::vector<std::int32_t> want(n), got(n, -7);
                    AdaptivePass a = adaptive_begin(fs, fast, 0.4f, Kernel::automatic);
                    for (int r = 0; r < n; ++r) {
                        const float* x = rows.data() + static_cast<std::size_t>(r) * nvars;
                        float best;
                        nearest_rows(ps, x, 1, nvars, &want[r], &best);
                        centres_pull(ps, plain, want[r], x, 0.4f);
                    }
                    adaptive_rows(a, rows.data(), n, got.data());
                    adaptive_end(a);
                    EXPECT_EQ(got, want);
                    for (std::size_t i = 0; i < plain.v.size(); ++i)
                        ASSERT_EQ(std::bit_cast<std::uint32_t>(fast.v[i]), std::bit_cast<std::uint32_t>(plain.v[i])) << i;
                    ++checked;
                }
    if (!nearest_kernel_runs(Kernel::avx2)) GTEST_SKIP() << "no vector kernel on this processor";
    EXPECT_EQ(checked, 4 * 6 * 3 * 2);
}

TEST(AdaptiveNextAlpha, DefaultScheduleAndFactorTwo) {
    float alpha = 0.5f;
    std::vector<float> seen;
    for (int i = 0; i < 4; ++i) {
        seen.push_back(alpha);
        alpha = next_alpha(alpha, 0.75f);
    }
    EXPECT_EQ(seen, (std::vector<float>{0.5f, 0.375f, 0.28125f, 0.2109375f}));
    EXPECT_EQ(next_alpha(0.5f, 2.0f), 1.0f);
    EXPECT_EQ(next_alpha(0.3f, 1.0f), 0.3f);
}

TEST(AdaptiveNextAlpha, RoundsTheProductToSingle) {
    // 0.1f * 0.1f in exact arithmetic is 0.0100000002980232; the nearest
    // float is 0.010000000707805 (bits 0x3C23D70B).
    EXPECT_EQ(std::bit_cast<std::uint32_t>(next_alpha(0.1f, 0.1f)), 0x3C23D70Bu);
}

}  // namespace
