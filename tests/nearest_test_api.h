// Shorthands of the nearest-centre search for the tests and benchmarks, on
// top of the production API of cluster/nearest.h: each one searches as a run
// without KMEANS_KERNEL does.
#pragma once

#include <cstdint>

#include "base/centres.h"
#include "base/params.h"
#include "cluster/nearest.h"

namespace kmeans {

// nearest_with() on the kernel a run picks for that size.
template <class Take>
inline int nearest(const Centres& c, const float* x, int nvars, int ncand, bool use_cityblock, float& best,
                   Take take) {
    return nearest_with(nearest_path_row_major(Kernel::automatic, ncand, nvars), c, x, nvars, ncand, use_cityblock,
                        best, take);
}

// nearest_all_with() on the kernel a run picks for that size.
inline int nearest_all(const Centres& c, const float* x, int nvars, int ncand, bool use_cityblock, float& best) {
    return nearest_all_with(nearest_path_row_major(Kernel::automatic, ncand, nvars), c, x, nvars, ncand,
                            use_cityblock, best);
}

// centres_prepare_all() for the kernel a run picks for that size.
inline void centres_prepare_all(CentreSet& s, const Centres& c, int nvars, int ncand, bool use_cityblock) {
    centres_prepare_all(s, c, nvars, ncand, use_cityblock, Kernel::automatic);
}

// nearest_rows() for one row.
inline int nearest_prepared(const CentreSet& s, const float* x, float& best) {
    std::int32_t w;
    nearest_rows(s, x, 1, s.nvars, &w, &best);
    return w;
}

}  // namespace kmeans
