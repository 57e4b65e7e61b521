// Exact pruning of the SKM passes: a row whose winner cannot have changed
// since the pass that last searched it in full keeps it without a search.
//
// Each row keeps two bounds in double on exact (real) distances: `upper`,
// at least its distance to its winner a, and `lower`, at most its distance
// to every other centre. After each pass every centre j moves by at most
// move[j] (its own distance from where it stood, bounded from above), so
// upper grows by move[a] and lower shrinks by the largest move of the other
// centres (Hamerly's bounds); both stay true bounds by the triangle
// inequality, for the Euclidean as for the Cityblock distance.
//
// Why a kept winner is the search's. The search compares computed
// distances D, not exact ones d. For a row and a centre of n values:
//  - Euclidean: each difference and square in double is off by at most a
//    factor (1 +- 2^-53), a sum of n terms not negative by at most
//    (n - 1) such steps, so the double sum is S (1 + t) with
//    |t| <= (n + 2) 2^-53 (nothing underflows or overflows in double for
//    differences of floats). Rounding it to float adds a factor of at most
//    (1 +- 2^-24), or an absolute 2^-150 below the normal floats; the root
//    of that float, correctly rounded to float, one more factor (1 +- 2^-24)
//    (a root is never below the normal floats). So D = d (1 + e) + f with
//    |e| <= 1.5 2^-24 + (n + 2) 2^-54 (and their products) and
//    |f| <= 2^-74: both inside rho(n) = 2^-23 + n 2^-52 + 2^-40 and
//    eta = 2^-70.
//  - Cityblock: D is the float of the double sum of |x - c|, off by the same
//    or less.
// A float sum that overflows gives D infinite, which is at least any bound.
// So D(a) <= upper (1 + rho) + eta and D(j) >= lower (1 - rho) - eta; when
// the first lies strictly below the second and below the largest finite
// float, D(a) is strictly below every other distance and below the start of
// the search: a wins, and no tie can give the win to a lower cluster. Where
// the bounds are not that clear, the row's distance to a is taken again in
// double (an upper bound of its own) and, if that does not settle it, the
// row is searched in full, which also renews its bounds from the smallest
// sum of the other centres (nearest_rows_second()). Every product and sum of
// the bounds is rounded the safe way by a factor of (1 +- 2^-50) more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/centres.h"
#include "base/params.h"
#include "cluster/nearest.h"
#include "io/data_file.h"

namespace kmeans {

// The least K times the values of a row for which SKM keeps bounds: below
// it the plain search of a row costs about as much as checking its bounds
// (measured: K = 8 on rows of 8 values, 22 ns a row).
constexpr int prune_min_cost = 128;

// Rows searched together when the bounds of several rows of a block are not
// clear: copied side by side, then searched by one kernel call.
constexpr int prune_batch = 64;

// The bounds of one SKM run and what the passes share.
struct PruneBounds {
    bool on = false;              // bounds kept (KMEANS_PRUNE on, room in the memory budget)
    bool ready = false;           // every row's bounds set by a pass (false: the next pass searches all)
    bool cityblock = false;
    int nvars = 0;
    std::vector<double> upper;    // per row: at least the distance to its winner
    std::vector<double> lower;    // per row: at most the distance to any other centre
    std::vector<double> move;     // per centre: at least its move in the last pass
    double move_top = 0.0;        // the largest move
    double move_next = 0.0;       // the largest move of the centres other than move_at
    int move_at = -1;             // the centre of the largest move
    int backoff = 1;              // full passes after the next pruned pass that searches most rows
    int full_left = 0;            // full passes still to come before pruning again
};

// Room of one thread for the rows of a block whose bounds are not clear.
struct PruneScratch {
    std::vector<float> rows;        // prune_batch rows of nvars values
    std::vector<std::int64_t> at;   // their row numbers
    std::vector<std::int32_t> winner;
    std::vector<float> best, second;
    std::int64_t searched = 0;      // rows searched in full by this thread (for tests and benchmarks)
};

// The bytes the bounds of `rows` rows take.
std::uint64_t prune_bytes(std::int64_t rows);

// Starts the bounds of an SKM run over `data` with `K` centres: on when
// the run's parameters ask for pruning and the memory budget has room for
// the bounds next to the rows it keeps (prune_bytes(data.N)); else off, and
// every pass searches in full. Sizes `scratch` (one per thread) for the
// rows of `data`.
void prune_start(PruneBounds& b, std::vector<PruneScratch>& scratch, const Resources& r, const DataFile& data,
                 int K, bool cityblock);

// The winners of the `n` rows first.. of one block (`rows`, nvars values
// each) against the prepared centres `s` and the same centres `c`, into
// clustno[first..]: searched in full (nearest_rows_second()) while the
// bounds are not ready, else kept where the bounds are clear and searched
// where not; every row's bounds are renewed. Allocates nothing; writes only
// this block's rows.
void prune_block(PruneBounds& b, PruneScratch& w, const CentreSet& s, const Centres& c, const float* rows,
                 std::int64_t first, std::int64_t n, std::int32_t* clustno);

// After a pass that searched `searched` rows in full and moved the centres
// from `before` to `after` (same K and nvars): each one's move, bounded
// from above, for the next pass, and whether that pass uses the bounds
// (`ready`). A pruned pass that still searched more than 3/4 of the rows
// (centres far from settled) is followed by full passes, which cost less
// than checking the bounds of rows that are then searched anyway: 1, 2, 4
// and at most 8 in a row as such passes recur, back to none after a pass
// the bounds paid for.
void prune_moved(PruneBounds& b, const Centres& before, const Centres& after, std::int64_t searched);

}  // namespace kmeans
