// Unit tests of the adaptive update and the rate schedule shared by AKM and
// AKMDI: the move of a centre towards a row and Alpha times ItParam.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstdint>
#include <vector>

#include "cluster/algorithms.h"
#include "cluster/distance.h"
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

// Whether `a` and `b` hold the same bits.
bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<std::uint32_t>(a[i]) != std::bit_cast<std::uint32_t>(b[i])) return false;
    return true;
}

// One adaptive pass over 300 rows of data of `kind` (see below) on `kernel`
// against the plain one (nearest_rows() and centres_pull() after every
// row, portable kernel), the rows taken in runs of 1 to 70, the pass ended
// (its centres and columns compared) and begun again after some of them.
// With `dynamic`, as AKMDI runs it: a random set of the K slots in use
// (maybe none), a row with no slot in use or farther than MaxDist from
// every centre in use opens the first slot not in use while the last one is
// not opened (the pass stops before it), MaxDist the distance of two rows
// (or the largest finite float).
void adaptive_case(Kernel kernel, int K, int nvars, int kind, bool cityblock, float alpha, bool dynamic,
                   std::uint32_t& seed) {
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    // Value v of a row (or of a centre).
    auto value = [&](int v, bool row) -> float {
        const float sign = next() % 2 ? 1.0f : -1.0f;
        switch (kind) {
        case 0: return static_cast<float>(next() % 5);  // grid: many ties
        case 1: return static_cast<float>(next() % 2001) / 7.0f - 140.0f;
        case 2: return sign * static_cast<float>(2048 + next() % 3);  // equal roots
        case 3: return sign * 3.0e38f * static_cast<float>(next() % 4) / 3.0f;
        default:  // sums near 2^25 a few float steps apart: equal roots up to the margin
            return static_cast<float>(v == 0 ? (row ? 5700 + next() % 200 : 0) : next() % 3);
        }
    };
    Centres plain;
    plain.K = K;
    plain.nvars = nvars;
    for (int i = 0; i < K * nvars; ++i) plain.v.push_back(value(i % nvars, false));
    if (K > 2) std::copy(plain.row(0), plain.row(0) + nvars, plain.row(1));  // a duplicate centre
    const int n = 300;
    std::vector<float> rows;
    for (int i = 0; i < n * nvars; ++i) rows.push_back(value(i % nvars, true));
    std::copy(rows.begin(), rows.begin() + nvars, rows.begin() + nvars);  // a duplicate row
    const float* row = rows.data();
    auto at = [&](int i) { return row + static_cast<std::size_t>(i) * static_cast<std::size_t>(nvars); };
    // Near the float limits, the largest finite float: a row with no
    // distance below it then opens no slot.
    const float maxdist = kind == 3 ? FLT_MAX : distance(cityblock, at(2 + next() % 10), at(20 + next() % 10), nvars);
    std::vector<unsigned char> in_use(static_cast<std::size_t>(K), 1);
    if (dynamic)
        for (unsigned char& u : in_use) u = next() % 3 == 0;
    // The slot a row opens (AKMDI), and whether it was the last one.
    auto open_slot = [&](std::vector<unsigned char>& use, bool& last) {
        int j = 0;
        while (j < K - 1 && use[static_cast<std::size_t>(j)]) ++j;
        last = last || j == K - 1;
        use[static_cast<std::size_t>(j)] = 1;
        return j;
    };
    Centres fast = plain;
    std::vector<unsigned char> fast_use = in_use;
    CentreSet ps, fs;
    centres_prepare(ps, plain, nvars, K, cityblock, Kernel::portable, [&](int k) { return in_use[k] != 0; });
    centres_prepare(fs, fast, nvars, K, cityblock, kernel, [&](int k) { return fast_use[k] != 0; });
    ASSERT_TRUE(adaptive_pass_runs(fs));
    // As in AKMDI, the last slot is in use only once it has been opened.
    bool last = in_use[static_cast<std::size_t>(K - 1)] != 0, fast_last = last;
    std::vector<std::int32_t> want(n), got(n, -7);
    AdaptivePass a = adaptive_begin(fs, fast, alpha, kernel);
    adaptive_stop_beyond(a, dynamic && !fast_last, maxdist);
    for (int r = 0; r < n;) {
        const int run = std::min(n - r, static_cast<int>(1 + next() % 70));
        for (int i = r; i < r + run; ++i) {
            float best;
            nearest_rows(ps, at(i), 1, nvars, &want[i], &best);
            if (want[i] < 0 || (dynamic && !last && best > maxdist)) {
                want[i] = open_slot(in_use, last);
                std::copy(at(i), at(i) + nvars, plain.row(want[i]));
                centres_update(ps, plain, want[i], true);
            } else {
                centres_pull(ps, plain, want[i], at(i), alpha);
            }
        }
        for (int i = r; i < r + run;) {
            if (a.first >= 0) i += static_cast<int>(adaptive_rows(a, at(i), r + run - i, &got[i]));
            if (i == r + run) break;
            ASSERT_TRUE(dynamic);
            got[i] = open_slot(fast_use, fast_last);
            adaptive_open(a, fs, fast, got[i], at(i));
            if (fast_last) adaptive_stop_beyond(a, false, maxdist);
            ++i;
        }
        r += run;
        if (r < n && next() % 2) continue;
        adaptive_end(a);
        ASSERT_TRUE(same_bits(fast.v, plain.v)) << "after row " << r - 1;
        CentreSet fresh;
        centres_prepare(fresh, fast, nvars, K, cityblock, kernel, [&](int k) { return fast_use[k] != 0; });
        for (std::size_t i = 0; i < fs.cols.size(); ++i)
            ASSERT_EQ(std::bit_cast<std::uint64_t>(fs.cols[i]), std::bit_cast<std::uint64_t>(fresh.cols[i]))
                << "after row " << r - 1;
        ASSERT_EQ(fs.take, fresh.take);
        ASSERT_EQ(fs.first, fresh.first);
        if (r == n) break;
        a = adaptive_begin(fs, fast, alpha, kernel);
        adaptive_stop_beyond(a, dynamic && !fast_last, maxdist);
    }
    EXPECT_EQ(got, want);
}

// The adaptive pass (each row's sums taken against the centres as they
// stood and as each of them would stand moved, the winner of the row ahead
// picking between them) gives the winners and centres of searching every
// row in full after the move before it, bit for bit, on each vector kernel,
// for AKM and as AKMDI runs it (adaptive_case()): on rows that tie
// (duplicate centres and rows, integer grids), whose different sums have
// equal roots (large integers, sums beyond 2^24), that lie far apart (near
// the single-precision limit, where sums overflow to infinity and a rate
// above 1 moves centres to infinity and NaN), on both distances, at rates
// below and above 1, and at rate 0 on sums a few float steps apart (the
// margin of the root check).
TEST(AdaptivePass, RowAtATimeEqualsTheFullSearchAfterEveryMove) {
    std::uint32_t seed = 17;
    int checked = 0, ran = 0;
    for (Kernel kernel : {Kernel::avx2, Kernel::avx512}) {
        if (!nearest_kernel_runs(kernel)) continue;
        ++ran;
        for (int K : {2, 3, 7, 8})
            for (int nvars : {1, 2, 5, 8, 9, 16})
                for (int kind = 0; kind < 5; ++kind)
                    for (bool cityblock : {false, true})
                        for (float rate : {0.4f, 1.5f})
                            for (bool dynamic : {false, true}) {
                                const float alpha = kind == 4 ? 0.0f : rate;  // kind 4: the centres stay
                                SCOPED_TRACE(testing::Message()
                                             << "kernel=" << static_cast<int>(kernel) << " K=" << K << " nvars=" << nvars
                                             << " kind=" << kind << " cityblock=" << cityblock << " alpha=" << alpha
                                             << " dynamic=" << dynamic);
                                adaptive_case(kernel, K, nvars, kind, cityblock, alpha, dynamic, seed);
                                if (HasFatalFailure()) return;
                                ++checked;
                            }
    }
    if (ran == 0) GTEST_SKIP() << "no vector kernel on this processor";
    EXPECT_EQ(checked, ran * 4 * 6 * 5 * 2 * 2 * 2);
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
