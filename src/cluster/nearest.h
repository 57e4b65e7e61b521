// The nearest-centre search shared by every pass.
#pragma once

#include <cfloat>

#include "cluster/centres.h"
#include "cluster/distance.h"

// Nearest centre to row `x` among the clusters 0..ncand-1 for which `take(k)`
// holds, over the first `nvars` values. The search starts from the largest
// finite float and accepts only a strictly smaller distance, so ties go to the
// lowest index. `best` receives the winning distance. When no distance lies
// below the largest finite float, the lowest-numbered candidate is returned
// and `best` stays at that value; -1 when there is no candidate at all.
template <class Take>
inline int nearest(const Centres& c, const float* x, int nvars, int ncand, bool use_cityblock, float& best,
                   Take take) {
    best = FLT_MAX;
    int winner = -1;
    int first = -1;
    for (int k = 0; k < ncand; ++k) {
        if (!take(k)) continue;
        if (first < 0) first = k;
        float d = distance(use_cityblock, x, c.row(k), nvars);
        if (d < best) {
            best = d;
            winner = k;
        }
    }
    return winner >= 0 ? winner : first;
}

// The same search over every cluster 0..ncand-1.
inline int nearest_all(const Centres& c, const float* x, int nvars, int ncand, bool use_cityblock, float& best) {
    return nearest(c, x, nvars, ncand, use_cityblock, best, [](int) { return true; });
}
