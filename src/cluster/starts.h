// Several starts of SKM or AKM for one data file (KMEANS_INIT,
// KMEANS_RESTARTS), the within-cluster sum of squares that ranks them, and
// the choice of the start whose centres are kept.
#pragma once

#include <cstdint>
#include <vector>

#include "base/centres.h"
#include "base/failure.h"
#include "base/params.h"
#include "cluster/prune.h"
#include "cluster/random.h"
#include "io/data_file.h"
#include "io/ranges.h"

namespace kmeans {

// The within-cluster sum of squares of `clust` over the rows of `data`:
// every row goes to its nearest centre (the search of every pass, ties to
// the lowest index), written into `clustno` (N entries), and adds its
// spread_term() to that centre (squared Euclidean distance, or the
// Cityblock distance) in double, the rows in file order. The search runs
// on the data file's threads, the additions on the calling thread, so the
// sum has the same bits for any thread count and any place of the rows.
// Returns the failure of a data file that changed.
[[nodiscard]] Failure sum_of_squares(const Params& p, DataFile& data, const Centres& clust,
                                     std::vector<std::int32_t>& clustno, double& sse);

// The start to keep among the sums of squares `sse` (one per start, in the
// order they ran; at least one): the lowest, a tie going to the earlier
// start; a NaN never wins over a number. Returns its 0-based index.
int best_start(const std::vector<double>& sse);

// Runs SKM or AKM (p.clustering.algorithm) from p.clustering.restarts
// starts, one after the other, and leaves the centres of the best start
// (best_start()) in `clust`. The first start is the one already in `clust`
// (draw_start() placed it); every later one is drawn by draw_start() from
// `rng` as the starts before left it. When starts_reported() holds, each
// start's iterations are followed below quiet level 2 by "\nStart %d of %d:
// sum of squares %.10G\n" and, after more than one start, by "Kept start %d
// of %d.\n"; otherwise the one start runs as it always has, and no sum is
// computed. `clustno` holds no particular assignment afterwards, but for
// one SKM start with `keep`: that run's last winners, its bounds in keep
// (run_skm()).
[[nodiscard]] Failure learn_from_starts(const Params& p, Rng& rng, DataFile& data, const Ranges& ranges,
                                        Centres& clust, std::vector<std::int32_t>& clustno, Pruning* keep = nullptr);

}  // namespace kmeans
