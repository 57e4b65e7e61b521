// The nearest-centre search shared by every pass.
//
// Every distance is the one distance() gives, and the winner is the one a
// search gets that measures every candidate in index order, starting from the
// largest finite float and taking only a strictly smaller distance. The
// search gets there faster in these ways, none of which changes a bit of it:
//
//  - 8 centres are measured side by side, each SIMD lane holding one
//    centre's own double-precision sum, added in variable order; every lane
//    is exactly the scalar sum.
//  - Roots are taken only where they can matter. The Euclidean distance
//    (the root of the float sum in double, rounded to float) never decreases
//    as the sum grows, so a sum at or above the best one's cannot win. It is
//    also the correctly rounded single-precision root, so one vector
//    instruction gives 8 distances at once.
//  - A block of centres is decided by its smallest sum. The lowest cluster of
//    the same distance (different sums can have equal roots) is the first
//    whose sum lies below euclid_cut() of that distance.
//  - A partial sum never exceeds the full one (the terms are not negative and
//    rounding keeps the order), so a group of centres whose partial sums all
//    reach the best one's sum is dropped before its last variables.
//
// Three kernels do the arithmetic (nearest_kernels.h): a portable one, and
// AVX2 and AVX-512 ones chosen at run time on processors that have them (no
// build flag needed), or the one the run parameters force (KMEANS_KERNEL).
// All three give the same bits; none uses fused multiply-add.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/centres.h"
#include "base/params.h"
#include "cluster/nearest_kernels.h"

namespace kmeans {

// The kernels of the search, slowest first.
enum class NearestPath : int { portable = 0, avx2 = 1, avx512 = 2 };

// The fastest kernel this processor runs (decided once, on first use).
NearestPath nearest_path_best();

// The kernel for a search over `ncand` prepared centres of `nvars` values
// (CentreSet), given the run's `kernel`: the one it forces, or for
// automatic the fastest this processor runs, except that for one group of
// at most 8 centres on short rows the wide vectors gain nothing over AVX2,
// which measured faster (in whole runs as well as alone). A forced kernel
// this processor lacks (the command line refuses it) counts as automatic.
NearestPath nearest_path_for(Kernel kernel, int ncand, int nvars);

// The same for a search over centres as they are stored, row after row
// (nearest_with()): for automatic, rows of one or two values take the
// portable kernel.
NearestPath nearest_path_row_major(Kernel kernel, int ncand, int nvars);

// Whether this processor runs `path`.
bool nearest_path_runs(NearestPath path);

// Whether this processor runs the kernel `kernel` forces (automatic: true).
bool nearest_kernel_runs(Kernel kernel);

// The name of `path` for reports: "portable", "avx2" or "avx512".
const char* nearest_path_name(NearestPath path);

namespace detail {

// The search over centres stored row after row (`stride` floats apart),
// clusters 0..ncand-1, first `nvars` values (at most max_vars), by kernel
// `path` (one that nearest_path_runs() accepts). Returns the winner and sets
// `best`, or returns -1 (with best = FLT_MAX) when no candidate's distance
// lies below FLT_MAX; the caller then picks the fallback.
int search_row_major(NearestPath path, const float* centres, int stride, int ncand, const float* x, int nvars,
                     bool use_cityblock, TakeRef take, float& best);

}  // namespace detail

// Nearest centre to row `x` among the clusters 0..ncand-1 for which `take(k)`
// holds, over the first `nvars` values, computed by kernel `path` (one that
// nearest_path_runs() accepts; see nearest_path_row_major()). The search
// starts from the largest finite float and accepts only a strictly smaller
// distance, so ties go to the lowest index. `best` receives the winning
// distance. When no distance lies below the largest finite float, the
// lowest-numbered candidate is returned and `best` stays at that value; -1
// when there is no candidate at all. `take` is asked only about clusters
// that could win, and about the clusters up to the first candidate when none
// could.
template <class Take>
inline int nearest_with(NearestPath path, const Centres& c, const float* x, int nvars, int ncand,
                        bool use_cityblock, float& best, Take take) {
    const TakeRef ref{
        [](const void* ctx, int k) noexcept { return static_cast<bool>((*static_cast<const Take*>(ctx))(k)); }, &take};
    int w = detail::search_row_major(path, c.v.data(), c.nvars, ncand, x, nvars, use_cityblock, ref, best);
    if (w >= 0) return w;
    for (int k = 0; k < ncand; ++k)
        if (take(k)) return k;
    return -1;
}

// The search of nearest_with() over every cluster 0..ncand-1 (with no
// candidate test to ask, sums are compared a whole block at a time).
inline int nearest_all_with(NearestPath path, const Centres& c, const float* x, int nvars, int ncand,
                            bool use_cityblock, float& best) {
    int w = detail::search_row_major(path, c.v.data(), c.nvars, ncand, x, nvars, use_cityblock,
                                     TakeRef{nullptr, nullptr}, best);
    return w >= 0 || ncand <= 0 ? w : 0;
}

// --- prepared centres: the search of a whole pass over fixed centres -------

// The candidate centres of one pass in the layout the kernels read: variable
// by variable, `width` centres each (ncand rounded up to a multiple of 8),
// in double precision. A cluster that is not a candidate, and the padding,
// hold NaN: its sum and distance are NaN, never below the best, so it never
// wins.
struct CentreSet {
    int ncand = 0;                     // clusters 0..ncand-1
    int nvars = 0;                     // values searched per row
    int width = 0;                     // centres per variable in `cols`
    int first = -1;                    // the lowest candidate, -1 for none
    bool cityblock = false;            // the distance kind
    NearestPath path = NearestPath::portable;  // the kernel; any that nearest_path_runs() accepts
    std::vector<double> cols;          // cols[v * width + k]: value v of centre k
    std::vector<unsigned char> take;   // take[k]: cluster k is a candidate
    // The blocked search (centres_block()), while `blocked`: the same
    // centres in float columns (colsf[v * width + k], NaN where cols is),
    // row after row (crow[k * nvars + v]), and each candidate's squared norm
    // in double and its root (NaN for the others); the largest root.
    bool blocked = false;
    std::vector<float> colsf, crow;
    std::vector<double> norm2, norm;
    double norm_max = 0.0;
    // The screened search of short rows (centres_block()) takes, while
    // `blocked` on rows of fewer than blocked_from values, `colsf` and
    // `crow`.
};

// Fills column k of `s` from centre k of `c` (NaN when not a candidate) and
// keeps `first` up to date. The incremental step for a pass that moves,
// opens or closes one centre between rows.
void centres_update(CentreSet& s, const Centres& c, int k, bool candidate);

// The adaptive move of candidate centre k towards row `x`: each of its
// s.nvars values c becomes c + alpha * (x - c) in double, rounded to float
// (pull_centre()'s arithmetic), in `c` and in the columns of `s` alike.
void centres_pull(CentreSet& s, Centres& c, int k, const float* x, float alpha);

// The adaptive pass (AdaptivePass in nearest_kernels.h): whether it runs
// for the prepared centres `s` (at most 8 clusters, at most
// adaptive_max_vars values, a vector kernel). Where it does not, each row
// takes nearest_rows() and centres_pull().
bool adaptive_pass_runs(const CentreSet& s);

// Starts an adaptive pass over `s` and `c` (for which adaptive_pass_runs()
// holds; the candidates of `s` are those of the pass) moving winners by
// `alpha`, on the kernel that the run's `kernel` forces, or for automatic
// on AVX-512 where the processor has it (at K = 8 on rows of 8 values it
// measured 17.5 ns a row against 35 on AVX2, whatever the search of the
// set's other passes takes). `s` and `c` must stay in place until
// adaptive_end(), which alone writes them (adaptive_open() aside).
AdaptivePass adaptive_begin(CentreSet& s, Centres& c, float alpha, Kernel kernel);

// While `on`, adaptive_rows() stops before a row whose distance to its
// winner (as nearest_rows() gives it) exceeds `limit`.
void adaptive_stop_beyond(AdaptivePass& a, bool on, float limit);

// The next rows of the pass: of the `n` rows from `rows` (nvars values
// each, consecutive), row i's winner to winner[i], each row moving its
// winner before the next one is searched, until a row that stops (see
// adaptive_stop_beyond()), which is neither decided nor moves anything.
// Returns the rows taken. The pass must have a candidate (n > 0).
// Allocates nothing.
std::size_t adaptive_rows(AdaptivePass& a, const float* rows, std::size_t n, std::int32_t* winner);

// Makes cluster k, not a candidate of the pass, one standing at row `x`
// (nvars values) in the pass, in `s` (centres_update()) and in `c`.
void adaptive_open(AdaptivePass& a, CentreSet& s, Centres& c, int k, const float* x);

// Ends the pass: the last row's move made, the columns of `s` and the
// centres of `c` that are candidates written.
void adaptive_end(AdaptivePass& a);

// The blocked search of long Euclidean rows. For a block of rows, the float
// dot products with every centre (a matrix product, nearest_screen_*)
// give each centre's squared distance up to a proven error (nearest.cpp);
// only the centres whose distance may be within that error of the smallest
// are measured exactly (the sum of distance()), and decided among as the
// plain search decides. Winners and distances are bit for bit the plain
// search's. centres_block() lays the centres out for it where it pays
// (Euclidean, rows of at least blocked_from values, at least blocked_min_k
// candidates, a vector kernel) and says whether it did; the set then takes
// it in nearest_rows() and nearest_rows_lows() until centres_update()
// or centres_pull() change a centre, which end it.
//
// Shorter rows take a screened search of the same kind (Euclidean, K times
// the values of a row at least short_min_cost, a vector kernel, no centre
// value of 2^60 or more): for each row the sums of squares against every
// centre taken all in float, whose error bound (nearest.cpp) tells which
// centres may be nearest, measured exactly. It pays where the sums are most
// of the work (measured: 8 values against 768 centres and 16 against 256 a
// third faster or more, 8 against 256 no faster, 8 against 100 slower).
constexpr int blocked_from = 32;
constexpr int blocked_min_k = 32;
constexpr int short_min_cost = 4096;
bool centres_block(CentreSet& s, const Centres& c);

// Lays out the clusters 0..ncand-1 of `c` for which `take(k)` holds, first
// `nvars` values, for the search of kind `use_cityblock` on the kernel that
// nearest_path_for() gives for the run's `kernel` and that size. Allocates
// only when `s` has not held as many values before.
template <class Take>
inline void centres_prepare(CentreSet& s, const Centres& c, int nvars, int ncand, bool use_cityblock, Kernel kernel,
                            Take take) {
    s.ncand = ncand > 0 ? ncand : 0;
    s.nvars = nvars;
    s.width = (s.ncand + 7) / 8 * 8;
    s.first = -1;
    s.cityblock = use_cityblock;
    s.blocked = false;
    s.path = nearest_path_for(kernel, s.ncand, nvars);
    s.cols.assign(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(nvars), std::nan(""));
    s.take.assign(static_cast<std::size_t>(s.width), 0);
    for (int k = 0; k < s.ncand; ++k) centres_update(s, c, k, static_cast<bool>(take(k)));
}

// The same over every cluster 0..ncand-1.
inline void centres_prepare_all(CentreSet& s, const Centres& c, int nvars, int ncand, bool use_cityblock,
                                Kernel kernel) {
    centres_prepare(s, c, nvars, ncand, use_cityblock, kernel, [](int) { return true; });
}

// The search of nearest_with() for each of `n` rows, consecutive rows of
// `nvars` values starting at `rows` (nvars at least s.nvars; the first
// s.nvars values are searched), against the prepared centres: row i's
// winner goes to winner[i] (the lowest candidate when no distance lies below
// the largest finite float, -1 when there is no candidate) and its distance
// to best[i]. Allocates nothing.
void nearest_rows(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                  float* best);

// The search of nearest_rows() (the same winners and distances) that also
// gives, for row i and column k, lows[i * s.width + k]: a lower bound of the
// float sum of row i and centre k (the sum itself, except for the centres
// the blocked search does not measure), NaN for a cluster that is not a
// candidate and for the padding. `lows` holds n * s.width floats and is
// 32-byte aligned. Allocates nothing.
void nearest_rows_lows(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                       float* best, float* lows);

// The search of nearest_rows() (the same winners and distances) that also
// gives second[i], a lower bound of the float sums of row i's candidates
// other than its winner (the smallest of them, in the plain search):
// infinity when it has none, 0 when no distance of row i lies below the
// largest finite float. Allocates nothing.
void nearest_rows_second(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                         float* best, float* second);

// The update of SKM's sums by the kernel `path` (see sums_add_portable() in
// nearest_kernels.h): for each of the `n` rows in order, values v0..v1-1
// added to the sums of the row's cluster, and with `count`, the cluster's
// count raised.
void sums_add(NearestPath path, float* sums, std::uint32_t* count, const float* rows, const std::int32_t* clustno,
              std::size_t n, int nvars, int v0, int v1);

// The float sums of row `x` against the `n` blocks of 8 columns listed in
// `blocks`, and the smallest of each block (see nearest_block_sums_portable()
// in nearest_kernels.h), of centres laid out as the kernels read them in
// any order (the pruned passes' groups, prune.h), by kernel `path` (one
// that nearest_path_runs() accepts): column 8 * blocks[i] + j to
// sums[8 * i + j], the smallest of block i to mins[i].
void nearest_block_sums(NearestPath path, const CentreColumns& cols, bool cityblock, const float* x,
                        const std::int32_t* blocks, int n, float* sums, float* mins);

// The same for each of `n` rows (`nvars` values apart) against every block:
// row i's sums at sums + i * cols.width, its blocks' smallest at mins + i *
// cols.width / 8.
void nearest_all_block_sums(NearestPath path, const CentreColumns& cols, bool cityblock, const float* rows,
                            std::size_t n, int nvars, float* sums, float* mins);

}  // namespace kmeans
