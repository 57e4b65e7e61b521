// The entry points of the nearest-centre search kernels, each kernel in a
// translation unit of its own: nearest_portable.cpp, and on x86-64
// nearest_avx2.cpp and nearest_avx512.cpp, compiled for those instruction
// sets (see CMakeLists.txt). nearest.cpp chooses between them.
//
// Every kernel computes, for 8 centres at a time, each centre's sum exactly
// as distance() does: (x[v] - c[v]) in double, squared (or its absolute value
// taken) in double, added to the centre's own double sum in variable order,
// the sum rounded to float. Lanes never mix: lane j of every vector belongs
// to centre j of the group. The sums are then decided in the order of the
// clusters (accept() and its vector forms decide8() and decide_block()).
// All three give the same bits; none uses fused multiply-add.
//
// A translation unit compiled for AVX-512 must not define any function that
// another unit may define too (an inline or template function of a header):
// the linker keeps one copy, and the AVX-512 one would end the program on a
// processor without it. So this header holds only plain declarations and
// plain structs, the vector units keep everything else in an anonymous
// namespace, and the ctest "kernel_symbols" checks their object files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kmeans {

// A candidate test handed to a kernel: `fn(ctx, k)` tells whether cluster k
// may win; a null `fn` takes every cluster. Kernels call it only for clusters
// whose distance is below the best so far, so it runs a few times per row,
// not K times.
struct TakeRef {
    bool (*fn)(const void* ctx, int k) noexcept;
    const void* ctx;
};

// Prepared centres as the kernels read them (see CentreSet in nearest.h):
// value v of centre k at cols[v * width + k], width a multiple of 8, NaN for
// a cluster that is not a candidate and for the padding; `first` the lowest
// candidate, -1 for none.
struct CentreColumns {
    const double* cols;
    int nvars;
    int width;
    int first;
};

// For a Euclidean distance `r` (a finite float, not negative): the smallest
// float sum of squares whose distance exceeds `r`. For every float sum s that
// is not negative, the distance of s is at most r exactly when s < the cut.
// Being the root of a float, a distance is 0 or a normal float; the cut rests
// on that (see nearest_search.inc).
float euclid_cut(float r);

// The search over centres stored row after row (`stride` floats apart),
// clusters 0..ncand-1, first `nvars` values (at most max_vars) of row `x`,
// by the distance of kind `cityblock`; `take` sifts the candidates. Returns
// the winner and sets `best`, or returns -1 (with best = FLT_MAX) when no
// candidate's distance lies below FLT_MAX.
int nearest_row_major_portable(const float* centres, int stride, int ncand, const float* x, int nvars,
                               bool cityblock, TakeRef take, float& best);

// The search of each of `n` rows (consecutive rows of `nvars` values from
// `rows`, the first s.nvars searched) against the prepared centres `s`:
// row i's winner to winner[i] (s.first when no distance lies below FLT_MAX)
// and its distance to best[i]. Allocates nothing.
void nearest_rows_portable(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                           std::int32_t* winner, float* best);

// The search of nearest_rows_portable() (the same winners and distances)
// that also keeps every sum it takes: the float sum of row i against column
// k goes to sums[i * s.width + k] (NaN for a cluster that is not a
// candidate and for the padding); `sums` is 32-byte aligned. The pruned
// passes (prune.h) take their bounds from them.
void nearest_rows_all_portable(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                               std::int32_t* winner, float* best, float* sums);

// The search of nearest_rows_portable() that also gives, for each row i,
// second[i]: the smallest float sum of the candidates other than row i's
// winner (infinity when there is none; 0 when no distance lies below
// FLT_MAX). The winners and distances are those of nearest_rows_portable().
// The pruned passes with one group (prune.h) take their lower bounds from
// it.
void nearest_rows_second_portable(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n,
                                  int nvars, std::int32_t* winner, float* best, float* second);

// The float sums of row `x` (the first s.nvars values) against the `n`
// blocks of 8 prepared columns listed in `blocks` (block b: columns 8b to
// 8b + 7, whatever the clusters there): column 8 * blocks[i] + j to
// sums[8 * i + j], NaN for a column that holds no centre, and the smallest
// of the 8 to mins[i] (infinity when all are NaN). The same sums as every
// other search takes. Allocates nothing.
void nearest_block_sums_portable(const CentreColumns& s, bool cityblock, const float* x, const std::int32_t* blocks,
                                 int n, float* sums, float* mins);

// The same for each of `n` rows (consecutive rows of `nvars` values from
// `rows`) against every block of the columns: row i's sums at sums + i *
// s.width, its smallest of each block at mins + i * s.width / 8.
void nearest_all_block_sums_portable(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n,
                                     int nvars, float* sums, float* mins);

// The centres of the blocked search (nearest.h) as its kernels read them:
// value v of centre k at colsf[v * width + k] in float (width a multiple of
// 8), each centre's squared norm and its root in double (NaN for a cluster
// that is not a candidate and for the padding), and the constants of the
// error bound (nearest.cpp): E = c1 |x| |c| + c2 (|x|^2 + |c|^2) + c3, the
// limit's factor 1 + tau, and `shrink`, which turns a lower bound of an
// exact sum into one of its float sum.
struct BlockedCentres {
    const float* colsf;
    const double* norm2;
    const double* norm;
    int nvars;
    int width;
    double c1, c2, c3, tau, shrink;
};

// The screening of the blocked search for each of `n` rows (`stride` floats
// apart, the first b.nvars values; n at most 8) whose squared norms in
// double are nx[i]: the float dot product p of the row with each centre k
// (a float sum in variable order of rounded float products, no fused
// multiply-add), then in double A = (nx + |c|^2) - 2 p and E, and the limit
// (the smallest A + E) (1 + tau) + 2^-140. Centre k is a candidate of row i
// when A - E lies at or below the limit: bit k % 8 of cand[i * width / 8 +
// k / 8]. For every centre, a lower bound of its float sum, (A - E) shrink
// (1 - 2^-22) as a float (0 below 2^-100; NaN for a cluster that is not a
// candidate), to lows[i * width + k] when `lows` is given; the smallest
// over the centres that are not candidates to rest[i] (infinity for none).
// Allocates nothing.
void nearest_screen_portable(const BlockedCentres& b, const float* rows, std::size_t n, int stride, const double* nx,
                             unsigned char* cand, float* lows, float* rest);
void nearest_screen_avx2(const BlockedCentres& b, const float* rows, std::size_t n, int stride, const double* nx,
                         unsigned char* cand, float* lows, float* rest);
void nearest_screen_avx512(const BlockedCentres& b, const float* rows, std::size_t n, int stride, const double* nx,
                           unsigned char* cand, float* lows, float* rest);

// The centres of the screened search of short rows (nearest.h) as its
// kernels read them: value v of centre k at cols[v * width + k] in float
// (NaN for a cluster that is not a candidate and for the padding), the
// centres row after row at `rows` (nvars floats apart, for the exact sums),
// and the constants of the error bound (nearest.cpp): a sum of squares
// taken all in float, q, lies within gamma S + abs of the exact sum S; tau
// widens the limit; and q * low (for q of at least 2^-100) lies below the
// float sum as distance() takes it.
struct ShortCentres {
    const float* cols;
    const float* rows;
    int nvars;
    int width;
    int first;
    double gamma, abs, tau;
    float low;
};

// The screened search of `n` rows (`stride` floats apart, the first
// c.nvars values of each): for each row the sum of squares q_k against
// each centre taken all in float (differences, squares and the sum in
// variable order rounded to float; no fused multiply-add), from them the
// centres whose exact sum may lie within the error bound of the smallest,
// whose sums are then taken exactly as distance() takes them and decided
// among in cluster order: row i's winner to winner[i] (c.first when no
// distance lies below FLT_MAX) and its distance to best[i]. A row whose
// smallest q overflows (or is NaN) is not searched: plain[i] = 1 and the
// caller searches it. With `lows`, lows[i * c.width + k] becomes a lower
// bound of the float sum of row i and centre k (the sum itself for those
// measured; NaN for a cluster that is not a candidate); with `second`,
// second[i] a lower bound of the float sums of the candidates other than
// the winner (infinity when there is none, 0 when no distance lies below
// FLT_MAX). On AVX2 and AVX-512 only. Allocates nothing.
void nearest_short_avx2(const ShortCentres& c, const float* rows, std::size_t n, int stride, std::int32_t* winner,
                        float* best, float* lows, float* second, unsigned char* plain);
void nearest_short_avx512(const ShortCentres& c, const float* rows, std::size_t n, int stride, std::int32_t* winner,
                          float* best, float* lows, float* second, unsigned char* plain);

// The update of SKM's sums: for each of the `n` rows at `rows` (nvars values
// each) in order, values v0..v1-1 each added to the same value of the sum
// row of the row's cluster k = clustno[i] (sums[k * nvars + v], every
// addition a float addition of its own, so each sum adds its rows in row
// order as one addition after another does), and with `count`, count[k]
// raised by one. Allocates nothing.
void sums_add_portable(float* sums, std::uint32_t* count, const float* rows, const std::int32_t* clustno,
                       std::size_t n, int nvars, int v0, int v1);
void sums_add_avx2(float* sums, std::uint32_t* count, const float* rows, const std::int32_t* clustno, std::size_t n,
                   int nvars, int v0, int v1);
void sums_add_avx512(float* sums, std::uint32_t* count, const float* rows, const std::int32_t* clustno,
                     std::size_t n, int nvars, int v0, int v1);

// The adaptive move of candidate centre k, whose values are held both at
// `row` (nvars floats) and in the prepared columns `cols` (value v at
// cols[v * width + k], width a multiple of 8): each value c becomes
// c + alpha * (x - c) in double, rounded to float, in both places. The
// columns are written 4 lanes at a time, so that the next search's loads
// take the values straight from these stores.
void nearest_pull_portable(double* cols, int width, int k, float* row, const float* x, int nvars, float alpha);
void nearest_pull_avx2(double* cols, int width, int k, float* row, const float* x, int nvars, float alpha);

// An adaptive pass (every row moves its winner before the next row is
// searched) over at most 8 centres and at most adaptive_max_vars values a
// row. A row's move is made only when the next row is searched: each row
// takes its sums both against the centres as they stood before the row
// ahead of it moved one and against every centre as it stands had it been
// the one to move (the moves of all 8 centres towards a row are made side
// by side, before its winner is known); the winner of the row ahead then
// picks, lane by lane, the sums that hold and the centres that stand. So a
// row waits on the row ahead only for a blend, never for a move and a sum
// after it. The winners and the centres are exactly those of searching each
// row in full after the move before it (nearest_rows, then
// nearest_pull_portable): every sum and every move is the same arithmetic on
// the same values, only made ahead of need.
constexpr int adaptive_max_vars = 16;
struct AdaptivePass {
    double* out = nullptr;     // the prepared columns (width 8) to write at the end
    float* centres = nullptr;  // the centres row after row, nvars apart, to write at the end
    int nvars = 0;
    unsigned take = 0;         // the lane bits of the candidates (the other lanes hold NaN)
    int first = -1;            // the lowest candidate (at least one when rows are searched)
    float alpha = 0.0f;
    bool cityblock = false;
    bool wide = false;         // the AVX-512 kernel (else AVX2)
    // While `stop`, a row whose distance to its winner exceeds `limit` ends
    // the rows of a call before it is taken, its move not made.
    bool stop = false;
    float limit = 0.0f;
    // The lane of the winner of the row searched last (1 << k; 0 before the
    // first row and after a stop), whose move is not yet made in `cols`.
    unsigned pending = 0;
    // Value v of centre k at cols[v * 8 + k], as the pending move left it,
    // and at moved[v * 8 + k] as centre k stands if it is the one to move.
    alignas(64) double cols[adaptive_max_vars * 8];
    alignas(64) double moved[adaptive_max_vars * 8];
};

// The rows of an adaptive pass: of `n` rows of nvars values from `rows`, in
// order, row i's winner to winner[i], until a row that stops (see
// AdaptivePass); returns the rows taken. The last row's move is left
// pending. On AVX2, and on AVX-512 for a processor that has it.
std::size_t nearest_adaptive_avx2(AdaptivePass& a, const float* rows, std::size_t n, std::int32_t* winner);
std::size_t nearest_adaptive_avx512(AdaptivePass& a, const float* rows, std::size_t n, std::int32_t* winner);

// Makes the pending move of an adaptive pass, if any.
void nearest_adaptive_end_avx2(AdaptivePass& a);

// The same two searches on AVX2 and on AVX-512 (AVX-512F and VL), for a
// processor that has them; built on x86-64 only (KMEANS_VECTOR_KERNELS).
int nearest_row_major_avx2(const float* centres, int stride, int ncand, const float* x, int nvars, bool cityblock,
                           TakeRef take, float& best);
void nearest_rows_avx2(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                       std::int32_t* winner, float* best);
int nearest_row_major_avx512(const float* centres, int stride, int ncand, const float* x, int nvars,
                             bool cityblock, TakeRef take, float& best);
void nearest_rows_avx512(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                         std::int32_t* winner, float* best);
void nearest_rows_second_avx2(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                              std::int32_t* winner, float* best, float* second);
void nearest_rows_second_avx512(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n,
                                int nvars, std::int32_t* winner, float* best, float* second);
void nearest_rows_all_avx2(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                           std::int32_t* winner, float* best, float* sums);
void nearest_rows_all_avx512(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                             std::int32_t* winner, float* best, float* sums);
void nearest_block_sums_avx2(const CentreColumns& s, bool cityblock, const float* x, const std::int32_t* blocks, int n,
                             float* sums, float* mins);
void nearest_block_sums_avx512(const CentreColumns& s, bool cityblock, const float* x, const std::int32_t* blocks,
                               int n, float* sums, float* mins);
void nearest_all_block_sums_avx2(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                                 float* sums, float* mins);
void nearest_all_block_sums_avx512(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n,
                                   int nvars, float* sums, float* mins);

}  // namespace kmeans
