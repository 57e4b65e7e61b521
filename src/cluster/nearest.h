// The nearest-centre search shared by every pass.
#pragma once

#include <cfloat>
#include <cmath>

#include "base/centres.h"
#include "cluster/distance.h"

namespace kmeans {

namespace detail {

// The single-precision sums behind the distances from `x` to the four centres
// c[0..3]: for Cityblock the distances themselves, for Euclidean the sums of
// squares whose square roots are the distances. Each sum runs in variable
// order exactly as in distance(); the four are independent, so the processor
// works on them side by side instead of waiting on one chain of additions.
inline void sums4(bool use_cityblock, const float* x, const float* const c[4], int n, float out[4]) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    if (use_cityblock) {
        for (int v = 0; v < n; ++v) {
            const double xv = x[v];
            s0 += std::fabs(xv - static_cast<double>(c[0][v]));
            s1 += std::fabs(xv - static_cast<double>(c[1][v]));
            s2 += std::fabs(xv - static_cast<double>(c[2][v]));
            s3 += std::fabs(xv - static_cast<double>(c[3][v]));
        }
    } else {
        for (int v = 0; v < n; ++v) {
            const double xv = x[v];
            const double d0 = xv - static_cast<double>(c[0][v]);
            const double d1 = xv - static_cast<double>(c[1][v]);
            const double d2 = xv - static_cast<double>(c[2][v]);
            const double d3 = xv - static_cast<double>(c[3][v]);
            s0 += d0 * d0;
            s1 += d1 * d1;
            s2 += d2 * d2;
            s3 += d3 * d3;
        }
    }
    out[0] = static_cast<float>(s0);
    out[1] = static_cast<float>(s1);
    out[2] = static_cast<float>(s2);
    out[3] = static_cast<float>(s3);
}

// The same sum for one centre.
inline float sum1(bool use_cityblock, const float* x, const float* c, int n) {
    if (use_cityblock) return cityblock(x, c, n);
    double s = 0.0;
    for (int v = 0; v < n; ++v) {
        const double d = static_cast<double>(x[v]) - static_cast<double>(c[v]);
        s += d * d;
    }
    return static_cast<float>(s);
}

}  // namespace detail

// Nearest centre to row `x` among the clusters 0..ncand-1 for which `take(k)`
// holds, over the first `nvars` values. The search starts from the largest
// finite float and accepts only a strictly smaller distance, so ties go to the
// lowest index. `best` receives the winning distance. When no distance lies
// below the largest finite float, the lowest-numbered candidate is returned
// and `best` stays at that value; -1 when there is no candidate at all.
//
// The Euclidean square root is taken only for a centre whose sum of squares
// is below that of the best so far: the rounded root never decreases as the
// sum grows, so a larger or equal sum can never give a strictly smaller
// distance. The result is the same as measuring every distance.
template <class Take>
inline int nearest(const Centres& c, const float* x, int nvars, int ncand, bool use_cityblock, float& best,
                   Take take) {
    best = FLT_MAX;
    float best_sum = HUGE_VALF;  // the sum behind `best`
    int winner = -1;
    int first = -1;
    auto consider = [&](int k, float sum) {
        if (!take(k)) return;
        if (first < 0) first = k;
        if (!(sum < best_sum)) return;
        float d = use_cityblock ? sum : static_cast<float>(std::sqrt(static_cast<double>(sum)));
        if (d < best) {
            best = d;
            best_sum = sum;
            winner = k;
        }
    };
    int k = 0;
    for (; k + 4 <= ncand; k += 4) {
        const float* const rows[4] = {c.row(k), c.row(k + 1), c.row(k + 2), c.row(k + 3)};
        float sums[4];
        detail::sums4(use_cityblock, x, rows, nvars, sums);
        for (int j = 0; j < 4; ++j) consider(k + j, sums[j]);
    }
    for (; k < ncand; ++k) {
        if (take(k)) consider(k, detail::sum1(use_cityblock, x, c.row(k), nvars));
    }
    return winner >= 0 ? winner : first;
}

// The same search over every cluster 0..ncand-1.
inline int nearest_all(const Centres& c, const float* x, int nvars, int ncand, bool use_cityblock, float& best) {
    return nearest(c, x, nvars, ncand, use_cityblock, best, [](int) { return true; });
}

}  // namespace kmeans
