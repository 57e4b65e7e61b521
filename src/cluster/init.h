// The start of learning for one data file: random centres or the k-means++
// start (SKM, AKM), or MaxDist and never-opened slots (AKMDI).
#pragma once

#include <cstdint>
#include <vector>

#include "base/centres.h"
#include "base/failure.h"
#include "base/params.h"
#include "cluster/random.h"
#include "io/data_file.h"
#include "io/ranges.h"

namespace kmeans {

// Fills every centre of `clust` with random values inside `ranges`: k outer,
// v inner, value = r * c * (max - min) + min in double, rounded to float (c:
// draw_scale()). Lists them at debug level 2.
void random_centres(const Levels& l, Rng& rng, const Ranges& ranges, Centres& clust);

// The start KMEANS_INIT chose for SKM and AKM, drawn from `rng` into every
// centre of `clust`: random_centres(), or kmeanspp_centres() over the rows
// of `data`. Returns the failure of a data file that changed while it was
// read again (only the k-means++ start reads it).
[[nodiscard]] Failure draw_start(const Params& p, Rng& rng, DataFile& data, const Ranges& ranges, Centres& clust);

// The greedy k-means++ start: the first centre is a row drawn uniformly
// (row floor(u * N), u = draw_unit()); every further one is the best of
// kmeanspp_candidates(K) rows, each drawn with a probability proportional to
// its weight (pick_weighted()), the best being the one that gives the lowest
// sum of the weights once it is added (ties: the earlier drawn). A row's
// weight is its spread_term() to the nearest centre chosen so far (the
// squared Euclidean distance, or the Cityblock distance), in double; the
// sums add the rows in file order. Needs 8 bytes per row besides the rows;
// reads the rows 2 or 3 times per centre (the rows not in memory also to
// fetch the candidates). Lists the centres at debug level 2. Same bits for
// any thread count and any place of the rows.
[[nodiscard]] Failure kmeanspp_centres(const Params& p, Rng& rng, DataFile& data, Centres& clust);

// The candidates the greedy k-means++ start draws for each centre after the
// first: 2 + floor(ln K).
int kmeanspp_candidates(int K);

// The rows that fall on the targets when the `n` weights `w` (not negative)
// are laid end to end in index order: picked[j] is the first row i whose
// running sum (added in index order, in double) exceeds targets[j]. A
// target at or beyond the whole sum (only by rounding) picks the last row
// of positive weight; with no positive weight at all, row 0. `picked` gets
// as many entries as `targets`, in their order; the targets may come in
// any order (one walk over the weights serves them all).
void pick_weighted(const double* w, std::int64_t n, const std::vector<double>& targets,
                   std::vector<std::int64_t>& picked);

// The MaxDist estimate: the distance between the vectors of minima and
// maxima, divided by K.
float estimate_maxdist(const Ranges& r, int nvars, int K, bool use_cityblock);

// AKMDI's working MaxDist: switch M when given, else the estimate; reported
// with its label. Every slot of `clust` is filled with the marker.
float akmdi_start(const Params& p, const Ranges& ranges, Centres& clust);

}  // namespace kmeans
