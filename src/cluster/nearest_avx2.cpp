// The AVX2 kernel of the nearest-centre search, compiled with -mavx2 (and
// only on x86-64; see CMakeLists.txt). Everything but its two entry points
// lies in the anonymous namespace: see nearest_kernels.h.
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#include "base/limits.h"
#include "cluster/nearest_kernels.h"

namespace kmeans {

namespace {

#include "cluster/nearest_search.inc"
#include "cluster/nearest_x86.inc"

// The lane set of 8 double sums: two halves of 4.
struct Acc {
    __m256d lo, hi;
};

// Adds the terms of (x - c) for the 8 centre values c_lo, c_hi to `a`.
template <bool CB>
inline void add8(Acc& a, __m256d xv, __m256d c_lo, __m256d c_hi) {
    const __m256d d_lo = _mm256_sub_pd(xv, c_lo), d_hi = _mm256_sub_pd(xv, c_hi);
    if (CB) {
        const __m256d sign = _mm256_set1_pd(-0.0);
        a.lo = _mm256_add_pd(a.lo, _mm256_andnot_pd(sign, d_lo));
        a.hi = _mm256_add_pd(a.hi, _mm256_andnot_pd(sign, d_hi));
    } else {
        a.lo = _mm256_add_pd(a.lo, _mm256_mul_pd(d_lo, d_lo));
        a.hi = _mm256_add_pd(a.hi, _mm256_mul_pd(d_hi, d_hi));
    }
}

constexpr int G1 = 2;  // groups side by side for one row
constexpr int G4 = 1;  // groups side by side for four rows

inline Acc zero() { return Acc{_mm256_setzero_pd(), _mm256_setzero_pd()}; }

inline __m256 round8(const Acc& a) { return _mm256_set_m128(_mm256_cvtpd_ps(a.hi), _mm256_cvtpd_ps(a.lo)); }

// Adds values vb..vb+nv-1 of the 8 row-major centres `rows` to `a`; `xd` is
// the row in double.
template <bool CB>
inline void add_rows(Acc& a, const float* const* rows, const double* xd, int vb, int nv) {
    __m256 t[8];
    rows_transposed(rows, vb, nv, t);
    for (int v = 0; v < nv; ++v)
        add8<CB>(a, _mm256_broadcast_sd(xd + vb + v), _mm256_cvtps_pd(_mm256_castps256_ps128(t[v])),
                 _mm256_cvtps_pd(_mm256_extractf128_ps(t[v], 1)));
}

// Adds values v0..v1-1 of G groups of 8 prepared centres (`col0` at the first
// centre of value 0) for R rows.
template <bool CB, int R, int G>
inline void add_cols(Acc (&a)[R][G], const double* col0, std::size_t width, const float* const* xs, int v0, int v1) {
    for (int v = v0; v < v1; ++v) {
        const double* col = col0 + static_cast<std::size_t>(v) * width;
        __m256d c[G][2];
        #pragma GCC unroll 8
        for (int g = 0; g < G; ++g) {
            c[g][0] = _mm256_loadu_pd(col + 8 * g);
            c[g][1] = _mm256_loadu_pd(col + 8 * g + 4);
        }
        #pragma GCC unroll 8
        for (int r = 0; r < R; ++r) {
            const __m256d xv = _mm256_set1_pd(static_cast<double>(xs[r][v]));
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g) add8<CB>(a[r][g], xv, c[g][0], c[g][1]);
        }
    }
}

// Adds all nvars values of G blocks of 8 prepared centres (block g's value 0
// at at[g], value v `width` doubles further) for the row `x`.
template <bool CB, int G>
inline void add_blocks(Acc (&a)[G], const double* const* at, std::size_t width, const float* x, int nvars) {
    for (int v = 0; v < nvars; ++v) {
        const __m256d xv = _mm256_set1_pd(static_cast<double>(x[v]));
        const std::size_t off = static_cast<std::size_t>(v) * width;
        #pragma GCC unroll 8
        for (int g = 0; g < G; ++g) add8<CB>(a[g], xv, _mm256_loadu_pd(at[g] + off), _mm256_loadu_pd(at[g] + off + 4));
    }
}

#include "cluster/nearest_kernels.inc"

}  // namespace

int nearest_row_major_avx2(const float* centres, int stride, int ncand, const float* x, int nvars, bool cityblock,
                           TakeRef take, float& best) {
    return cityblock ? row_major<true>(centres, stride, ncand, x, nvars, take, best)
                     : row_major<false>(centres, stride, ncand, x, nvars, take, best);
}

void nearest_rows_avx2(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                       std::int32_t* winner, float* best) {
    if (cityblock) search_rows<true>(s, rows, n, nvars, winner, best);
    else search_rows<false>(s, rows, n, nvars, winner, best);
}

void nearest_short_avx2(const ShortCentres& c, const float* rows, std::size_t n, int stride, std::int32_t* winner,
                        float* best, float* lows, float* second, unsigned char* plain) {
    short_search(c, rows, n, stride, winner, best, lows, second, plain);
}

void nearest_rows_second_avx2(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                              std::int32_t* winner, float* best, float* second) {
    if (cityblock) search_rows_second<true>(s, rows, n, nvars, winner, best, second);
    else search_rows_second<false>(s, rows, n, nvars, winner, best, second);
}

void nearest_screen_avx2(const BlockedCentres& b, const float* rows, std::size_t n, int stride, const double* nx,
                         double* low, double* limit) {
    screen(b, rows, n, stride, nx, low, limit);
}

void nearest_rows_all_avx2(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                           std::int32_t* winner, float* best, float* sums) {
    if (cityblock) search_rows_all<true>(s, rows, n, nvars, winner, best, sums);
    else search_rows_all<false>(s, rows, n, nvars, winner, best, sums);
}

void nearest_block_sums_avx2(const CentreColumns& s, bool cityblock, const float* x, const std::int32_t* blocks,
                             int n, float* sums, float* mins) {
    if (cityblock) block_sums<true>(s, x, blocks, n, sums, mins);
    else block_sums<false>(s, x, blocks, n, sums, mins);
}

void nearest_all_block_sums_avx2(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                                 float* sums, float* mins) {
    if (cityblock) all_block_sums<true>(s, rows, n, nvars, sums, mins);
    else all_block_sums<false>(s, rows, n, nvars, sums, mins);
}

namespace {

// Moves centre k towards row `x`: each of its `nvars` values c (at `row`,
// and in the prepared columns `cols`, `step` doubles from one value to the
// next) becomes c + alpha * (x - c) in double rounded to float, as
// pull_centre() computes it, four values at a time (the last ones through
// masked loads and stores); the columns are written as whole quads, so that
// the next search loads them straight from these stores. With `Sum`, also
// returns the sum of row `next` against the moved centre, in variable order,
// in double, rounded to float (the Cityblock one with `CB`), taken from the
// moved values as they leave the move rather than from memory.
template <bool Sum, bool CB>
inline float pull_quads(double* cols, std::size_t step, int k, float* row, const float* x, const float* next,
                        int nvars, float alpha) {
    const __m256d a = _mm256_set1_pd(static_cast<double>(alpha));
    const int lane = k & 3;
    const __m256d mask = _mm256_castsi256_pd(
        _mm256_cmpeq_epi64(_mm256_setr_epi64x(0, 1, 2, 3), _mm256_set1_epi64x(lane)));
    double* quad = cols + (k - lane);
    double sum = 0.0;
    for (int v = 0; v < nvars; v += 4) {
        const int n = nvars - v < 4 ? nvars - v : 4;
        const __m128i in = _mm_cmpgt_epi32(_mm_set1_epi32(n), _mm_setr_epi32(0, 1, 2, 3));
        const __m256d c = _mm256_cvtps_pd(_mm_maskload_ps(row + v, in));
        const __m256d xv = _mm256_cvtps_pd(_mm_maskload_ps(x + v, in));
        const __m128 moved = _mm256_cvtpd_ps(_mm256_add_pd(c, _mm256_mul_pd(a, _mm256_sub_pd(xv, c))));
        _mm_maskstore_ps(row + v, in, moved);
        const __m256d md = _mm256_cvtps_pd(moved);
        alignas(32) double each[4], term[4];
        _mm256_store_pd(each, md);
        if (Sum) {
            const __m256d d = _mm256_sub_pd(_mm256_cvtps_pd(_mm_maskload_ps(next + v, in)), md);
            _mm256_store_pd(term, CB ? _mm256_andnot_pd(_mm256_set1_pd(-0.0), d) : _mm256_mul_pd(d, d));
        }
        for (int j = 0; j < n; ++j, quad += step) {
            _mm256_storeu_pd(quad, _mm256_blendv_pd(_mm256_loadu_pd(quad), _mm256_set1_pd(each[j]), mask));
            if (Sum) sum += term[j];
        }
    }
    return static_cast<float>(sum);
}

}  // namespace

void sums_add_avx2(float* sums, std::uint32_t* count, const float* rows, const std::int32_t* clustno, std::size_t n,
                   int nvars, int v0, int v1) {
    const std::size_t stride = static_cast<std::size_t>(nvars);
    const int tail = (v1 - v0) % 8;
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(tail), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const int whole = v1 - tail;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = static_cast<std::size_t>(clustno[i]);
        float* sum = sums + k * stride;
        const float* x = rows + i * stride;
        int v = v0;
        for (; v < whole; v += 8) _mm256_storeu_ps(sum + v, _mm256_add_ps(_mm256_loadu_ps(sum + v), _mm256_loadu_ps(x + v)));
        if (tail)
            _mm256_maskstore_ps(sum + v, mask,
                                _mm256_add_ps(_mm256_maskload_ps(sum + v, mask), _mm256_maskload_ps(x + v, mask)));
        if (count) ++count[k];
    }
}

void nearest_pull_avx2(double* cols, int width, int k, float* row, const float* x, int nvars, float alpha) {
    pull_quads<false, false>(cols, static_cast<std::size_t>(width), k, row, x, nullptr, nvars, alpha);
}

namespace {

// The sums of row `x` against the 8 prepared centres, as the other kernels
// take them (lane k: centre k).
template <bool CB>
inline __m256 adaptive_sums(const AdaptivePass& a, const float* x) {
    Acc acc[1][1] = {{zero()}};
    add_cols<CB, 1, 1>(acc, a.cols, 8, &x, 0, a.nvars);
    return round8(acc[0][0]);
}

// The move of centre k of an adaptive pass (columns of width 8) towards
// row `x`, and the sum of row `next` against the moved centre: lane k of
// the sums adaptive_sums() would take after the move.
template <bool CB>
inline float pull_and_sum(double* cols, int k, float* row, const float* x, const float* next, int nvars,
                          float alpha) {
    return pull_quads<true, CB>(cols, 8, k, row, x, next, nvars, alpha);
}

// Decides the pending row of `a` and moves its winner towards it; `next`
// (the row that follows, or null) gets its sum against the moved centre.
template <bool CB>
inline void adaptive_decide(AdaptivePass& a, const float* next) {
    __m256 f = _mm256_load_ps(a.sums);
    if (a.moved >= 0) {
        const __m256 lane = _mm256_castsi256_ps(
            _mm256_cmpeq_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(a.moved)));
        f = _mm256_blendv_ps(f, _mm256_set1_ps(a.fresh), lane);
        _mm256_store_ps(a.sums, f);
    }
    Best b = start(CB);
    decide_block<CB>(b, a.sums, 1, keep_min(f, _mm256_set1_ps(inf)), 0);
    const int w = b.winner >= 0 ? b.winner : 0;  // every centre is a candidate: the first is the lowest
    *a.winner = w;
    float* row = a.centres + static_cast<std::size_t>(w) * a.nvars;
    if (next) a.fresh = pull_and_sum<CB>(a.cols, w, row, a.x, next, a.nvars, a.alpha);
    else nearest_pull_avx2(a.cols, 8, w, row, a.x, a.nvars, a.alpha);
    a.moved = w;
    a.pending = false;
}

template <bool CB>
inline void adaptive_row(AdaptivePass& a, const float* x, std::int32_t* winner) {
    // Against the centres as they stand, before the pending row moves one.
    const __m256 f = adaptive_sums<CB>(a, x);
    if (a.pending) adaptive_decide<CB>(a, x);
    else a.moved = -1;
    _mm256_store_ps(a.sums, f);
    for (int v = 0; v < a.nvars; ++v) a.x[v] = x[v];
    a.winner = winner;
    a.pending = true;
}

}  // namespace

void nearest_adaptive_avx2(AdaptivePass& a, const float* x, std::int32_t* winner) {
    if (a.cityblock) adaptive_row<true>(a, x, winner);
    else adaptive_row<false>(a, x, winner);
}

void nearest_adaptive_end_avx2(AdaptivePass& a) {
    if (!a.pending) return;
    if (a.cityblock) adaptive_decide<true>(a, nullptr);
    else adaptive_decide<false>(a, nullptr);
}

}  // namespace kmeans
