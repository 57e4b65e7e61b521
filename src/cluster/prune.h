// Exact pruning of the SKM passes: a row whose winner cannot have changed
// since the pass that last searched it keeps it without a search, and a
// row that must be searched measures only the centres that may beat it.
//
// Each row keeps, in float, an upper bound `upper` of its exact (real)
// distance to its winner a and a lower bound `lower` of its exact distance
// to every other centre. After each pass every centre j moves by at most
// move[j] (its own distance from where it stood, bounded from above), so
// upper grows by move[a] and lower shrinks by the largest move of the other
// centres (Hamerly's bounds); both stay true bounds by the triangle
// inequality, for the Euclidean as for the Cityblock distance.
//
// With many centres they are also cut into groups of nearby centres
// (prune_pass), and a row keeps for every group g a lower bound of its
// distance to every centre of g but a (Yinyang's grouped bounds). These are
// touched only when the first two do not settle a row: each is stored with
// the pass it was valid for, and taken down by the largest moves in its
// group in every pass since (each pass's, summed from the first pass in a
// table). The groups whose bound is then clear need no search; the others
// are measured.
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
// So D(a) <= upper (1 + rho) + eta and D(j) >= lower (1 - rho) - eta. When
// the first lies strictly below the second (and below the largest finite
// float), no centre that the bound covers could be taken over a by the
// search: not with a smaller distance, nor with the same one and a lower
// number. Where the bounds are not that clear, the row's distance to a is
// bounded again from its terms, and then the groups are looked at; the
// centres of the groups still not clear are measured as the search
// measures them, and the winner is decided among them exactly as the
// search decides among all (a row whose groups are mostly not clear is
// searched in full). Without groups, each centre a has a neighbourhood: a
// and the 31 others nearest to it, in order. A row whose two bounds are not
// clear measures its winner's neighbourhood up to the last centre j that
// may lie closer than its bound u of the distance to a: by the triangle
// inequality d(x, j) >= d(a, j) - u, so every centre further than
// u + u (1 + rho) + eta from a is clear (Elkan's test between centres);
// when one beyond the neighbourhood is not, the row is searched in full.
// Every bound is rounded the safe way: upper bounds up
// and lower bounds down whenever they are stored as floats, and every
// product and sum of them in double by a factor of (1 +- 2^-50) more.
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

// Rows searched in full together, their sums kept side by side.
constexpr int prune_batch = 64;

// The least K times the values of a row for which the centres are cut into
// groups: below it the first two bounds (Hamerly's) alone cost less.
constexpr std::int64_t prune_groups_from = 2048;

// Centres a group holds (one block of 8 of the kernels), unless the memory
// budget asks for larger groups.
constexpr int prune_group = 8;

// Without groups: the centres of a neighbourhood (a centre and the nearest
// others, the blocks a row not settled by its bounds measures first), and
// the most centres for which the neighbourhoods are formed every pass.
constexpr int prune_hood = 32;
constexpr int prune_hood_most = 512;

// The most passes the drift table spans: then a pass searches all rows.
constexpr std::uint32_t prune_drift_passes = 1024;

// The bounds of one SKM run and what the passes share.
struct PruneBounds {
    bool on = false;              // bounds kept (KMEANS_PRUNE on, room in the memory budget)
    bool ready = false;           // every row's bounds set by a pass (false: the next pass searches all)
    bool cityblock = false;
    int nvars = 0;
    int K = 0;
    int group_size = prune_group; // positions of a group, a multiple of 8
    int groups = 0;               // G: ceil(K / group_size); 1: no group bounds
    NearestPath path = NearestPath::portable;  // the kernel of the searches of groups
    std::uint32_t pass = 0;       // the pass about to run, counted from the last that searched all rows
    std::vector<std::int32_t> order;     // position p (G * group_size of them): its cluster, -1 for none
    std::vector<std::int32_t> group_of;  // per cluster: its group
    std::vector<std::int32_t> block_members;  // per block of 8 positions: the clusters it holds
    std::vector<std::int32_t> hood_ids;  // G = 1: per centre a, prune_hood clusters: a, then the nearest others (-1: none)
    std::vector<float> hood_dist;        // per centre a, prune_hood + 1: at most their distances from a, then at most that of any centre beyond
    std::vector<double> hood_cols;       // per centre a: its neighbourhood's centres as the kernels read them (prune_hood columns)
    std::vector<double> cols;            // the centres of the pass at their positions, as the kernels read them
    std::vector<float> upper;     // per row: at least the distance to its winner
    std::vector<float> lower;     // per row: at most the distance to any other centre
    std::vector<float> group_lower;     // per row, G of them (G > 1): at most the distance to any other centre of g
    std::vector<std::uint32_t> stamp;   // per row (G > 1): the pass its group bounds were valid for
    std::vector<double> drift;    // per pass p and group g at [p * G + g]: the largest moves in g summed over passes 0..p-1
    std::vector<double> move;     // per centre: at least its move in the last pass
    std::vector<float> move_up;   // the same as floats, rounded up
    std::vector<float> group_move;  // per group: the largest move_up of its centres
    float move_top = 0.0f;        // the largest move_up
    float move_next = 0.0f;       // the largest move_up of the centres other than move_at
    int move_at = -1;             // the centre of the largest move
    double share = 1.0;           // the share of a full search that the last pass measured
    int backoff = 1;              // full passes after the next pruned pass that searches most centres
    int full_left = 0;            // full passes still to come before pruning again
};

// Room of one thread for the searches of its blocks (a cache line of its
// own: the threads write theirs side by side).
struct alignas(64) PruneScratch {
    std::vector<float> room;            // sums: prune_batch rows of every column, or one row's groups
    std::vector<float> mins;            // the smallest sum of each block of 8 of them
    std::vector<std::int32_t> winner;   // prune_batch
    std::vector<float> best;            // prune_batch
    std::vector<std::int32_t> blocks;   // the blocks of 8 columns a row searches
    std::vector<float> batch;           // prune_batch rows to be searched in full
    std::vector<std::size_t> at;        // their row numbers
    std::int64_t searched = 0;          // blocks of 8 centres measured (a full search: every block)
};

// The bounds of an SKM run with the room of its threads, handed on after
// the run to the pass that assigns the rows to the learned centres.
struct Pruning {
    PruneBounds bounds;
    std::vector<PruneScratch> scratch;  // one per thread
};

// The bytes the bounds of `rows` rows in `groups` groups take.
std::uint64_t prune_bytes(std::int64_t rows, int groups);

// Starts the bounds of an SKM run over `data` with `K` centres: on when
// the run's parameters ask for pruning and the memory budget has room for
// the bounds next to the rows it keeps (with groups of prune_group centres,
// or fewer larger groups, down to none); else off, and every pass searches
// in full. Sizes `scratch` (one per thread) for the rows of `data`.
void prune_start(PruneBounds& b, std::vector<PruneScratch>& scratch, const Resources& r, const DataFile& data,
                 int K, bool cityblock);

// Readies the bounds for a pass over the centres `c` (same K and nvars):
// before a pass that searches every row, cuts the centres into groups of
// centres close to each other; lays the centres out at their positions.
// On the calling thread, before the pass.
void prune_pass(PruneBounds& b, const Centres& c);

// The winners of the `n` rows first.. of one block (`rows`, nvars values
// each) against the prepared centres `s` (every cluster a candidate) and
// the same centres `c`, into clustno[first..]: searched in full while the
// bounds are not ready, else kept where the bounds are clear and searched
// among the groups that are not; every row's bounds are renewed. Allocates
// nothing; writes only this block's rows.
void prune_block(PruneBounds& b, PruneScratch& w, const CentreSet& s, const Centres& c, const float* rows,
                 std::int64_t first, std::int64_t n, std::int32_t* clustno);

// What a row of the next pass over `b` costs, about (K times the values of
// a row for a full search), for the size of the blocks the pass is cut
// into: with the bounds ready, the share of the search that the last pass
// measured, and the bounds of the row.
std::size_t prune_row_cost(const PruneBounds& b, int K, int nvars);

// After a pass that measured `searched` blocks of 8 centres and moved the
// centres from `before` to `after` (same K and nvars): each one's move,
// bounded from above, for the next pass, and whether that pass uses the
// bounds (`ready`). Without groups, a pruned pass that still measured more
// than 3/4 of what a full search measures (centres far from settled) is
// followed by full passes, which cost less than checking the bounds of rows
// that are then searched anyway: 1, 2, 4 and at most 8 in a row as such
// passes recur, back to none after a pass the bounds paid for.
void prune_moved(PruneBounds& b, const Centres& before, const Centres& after, std::int64_t searched);

}  // namespace kmeans
