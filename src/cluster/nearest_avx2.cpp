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
inline void add_cols(Acc (&a)[R][G], const double* col0, std::size_t width, const double* const* xs, int v0, int v1) {
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
            const __m256d xv = _mm256_broadcast_sd(xs[r] + v);
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

// The float sums of squares q of R rows `xs` (see nearest_short_avx2() in
// nearest_kernels.h) against G groups of 8 columns from k0 on: to q[r] + k0
// + 8g; lane by lane, the smallest to m1[r] and the second smallest to
// m2[r] (as a multiset; a NaN lane changes neither, see tile()).
constexpr int QG = 2;  // groups side by side in q_tile()

template <int R, int G>
inline void q_tile(const ShortCentres& c, std::size_t width, const float* const* xs, int k0, float* const* q,
                   __m256* m1, __m256* m2) {
    __m256 a[R][G];
    #pragma GCC unroll 8
    for (int r = 0; r < R; ++r)
        #pragma GCC unroll 8
        for (int g = 0; g < G; ++g) a[r][g] = _mm256_setzero_ps();
    const float* col = c.cols + k0;
    for (int v = 0; v < c.nvars; ++v, col += width) {
        __m256 cv[G];
        #pragma GCC unroll 8
        for (int g = 0; g < G; ++g) cv[g] = _mm256_loadu_ps(col + 8 * g);
        #pragma GCC unroll 8
        for (int r = 0; r < R; ++r) {
            const __m256 xv = _mm256_broadcast_ss(xs[r] + v);
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                const __m256 d = _mm256_sub_ps(xv, cv[g]);
                a[r][g] = _mm256_add_ps(a[r][g], _mm256_mul_ps(d, d));
            }
        }
    }
    #pragma GCC unroll 8
    for (int g = 0; g < G; ++g)
        #pragma GCC unroll 8
        for (int r = 0; r < R; ++r) {
            _mm256_store_ps(q[r] + k0 + 8 * g, a[r][g]);
            m2[r] = _mm256_min_ps(_mm256_max_ps(m1[r], a[r][g]), m2[r]);
            m1[r] = keep_min(a[r][g], m1[r]);
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
                         unsigned char* cand, float* lows, float* rest) {
    screen(b, rows, n, stride, nx, cand, lows, rest);
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
// the next search loads them straight from these stores.
inline void pull_quads(double* cols, std::size_t step, int k, float* row, const float* x, int nvars, float alpha) {
    const __m256d a = _mm256_set1_pd(static_cast<double>(alpha));
    const int lane = k & 3;
    const __m256d mask = _mm256_castsi256_pd(
        _mm256_cmpeq_epi64(_mm256_setr_epi64x(0, 1, 2, 3), _mm256_set1_epi64x(lane)));
    double* quad = cols + (k - lane);
    for (int v = 0; v < nvars; v += 4) {
        const int n = nvars - v < 4 ? nvars - v : 4;
        const __m128i in = _mm_cmpgt_epi32(_mm_set1_epi32(n), _mm_setr_epi32(0, 1, 2, 3));
        const __m256d c = _mm256_cvtps_pd(_mm_maskload_ps(row + v, in));
        const __m256d xv = _mm256_cvtps_pd(_mm_maskload_ps(x + v, in));
        const __m128 moved = _mm256_cvtpd_ps(_mm256_add_pd(c, _mm256_mul_pd(a, _mm256_sub_pd(xv, c))));
        _mm_maskstore_ps(row + v, in, moved);
        alignas(32) double each[4];
        _mm256_store_pd(each, _mm256_cvtps_pd(moved));
        for (int j = 0; j < n; ++j, quad += step)
            _mm256_storeu_pd(quad, _mm256_blendv_pd(_mm256_loadu_pd(quad), _mm256_set1_pd(each[j]), mask));
    }
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
    pull_quads(cols, static_cast<std::size_t>(width), k, row, x, nvars, alpha);
}

namespace {

// Adds the term of the difference `d` to the sum `a`; the `first` term is
// the sum so far (0 plus a term, never -0, is the term).
template <bool CB>
inline __m256d add_term(__m256d a, __m256d d, bool first) {
    const __m256d t = CB ? _mm256_andnot_pd(_mm256_set1_pd(-0.0), d) : _mm256_mul_pd(d, d);
    return first ? t : _mm256_add_pd(a, t);
}

// The 64-bit lanes of the lane bits `bit` (of 8 centres) in the low
// (centres 0..3) and high (4..7) halves of a group.
inline void lanes_of(unsigned bit, __m256d& lo, __m256d& hi) {
    const __m256i at = _mm256_set1_epi64x(static_cast<long long>(bit));
    lo = _mm256_castsi256_pd(_mm256_cmpgt_epi64(_mm256_and_si256(at, _mm256_setr_epi64x(1, 2, 4, 8)),
                                                _mm256_setzero_si256()));
    hi = _mm256_castsi256_pd(_mm256_cmpgt_epi64(_mm256_and_si256(at, _mm256_setr_epi64x(16, 32, 64, 128)),
                                                _mm256_setzero_si256()));
}

// The rows of an adaptive pass (AdaptivePass; nearest_adaptive_avx2()) of
// NV values (NV = 0: a.nvars), the centres in its columns from row to row;
// returns the rows taken. The differences x - c serve the sums and the
// moves alike (the move of pull_quads(): c + alpha * (x - c)).
template <bool CB, int NV>
std::size_t adaptive_run(AdaptivePass& a, const float* rows, std::size_t n, std::int32_t* winner) {
    const __m256d al = _mm256_set1_pd(static_cast<double>(a.alpha));
    const int nvars = NV ? NV : a.nvars;
    const unsigned first = 1u << a.first;
    unsigned bit = a.pending;
    std::size_t i = 0;
    for (; i < n; ++i, rows += nvars) {
        __m256d m_lo, m_hi;
        lanes_of(bit, m_lo, m_hi);
        __m256d s_lo = _mm256_setzero_pd(), s_hi = s_lo, t_lo = s_lo, t_hi = s_lo;  // stood, moved
        double* col = a.cols;
        double* mv = a.moved;
        #pragma GCC unroll 8
        for (int v = 0; v < nvars; ++v, col += 8, mv += 8) {
            const __m256d xv = _mm256_set1_pd(static_cast<double>(rows[v]));
            const __m256d c_lo = _mm256_load_pd(col), c_hi = _mm256_load_pd(col + 4);
            const __m256d u_lo = _mm256_load_pd(mv), u_hi = _mm256_load_pd(mv + 4);
            const __m256d dc_lo = _mm256_sub_pd(xv, c_lo), dc_hi = _mm256_sub_pd(xv, c_hi);
            const __m256d du_lo = _mm256_sub_pd(xv, u_lo), du_hi = _mm256_sub_pd(xv, u_hi);
            s_lo = add_term<CB>(s_lo, dc_lo, NV != 0 && v == 0);
            s_hi = add_term<CB>(s_hi, dc_hi, NV != 0 && v == 0);
            t_lo = add_term<CB>(t_lo, du_lo, NV != 0 && v == 0);
            t_hi = add_term<CB>(t_hi, du_hi, NV != 0 && v == 0);
            // The centres as they stand for this row, and each one's move towards it.
            const __m256d n_lo = _mm256_blendv_pd(c_lo, u_lo, m_lo), n_hi = _mm256_blendv_pd(c_hi, u_hi, m_hi);
            const __m256d d_lo = _mm256_blendv_pd(dc_lo, du_lo, m_lo), d_hi = _mm256_blendv_pd(dc_hi, du_hi, m_hi);
            _mm256_store_pd(col, n_lo);
            _mm256_store_pd(col + 4, n_hi);
            _mm256_store_pd(mv, _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(n_lo, _mm256_mul_pd(al, d_lo)))));
            _mm256_store_pd(mv + 4, _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(n_hi, _mm256_mul_pd(al, d_hi)))));
        }
        const __m256 pick = _mm256_castsi256_ps(_mm256_cmpgt_epi32(
            _mm256_and_si256(_mm256_set1_epi32(static_cast<int>(bit)), _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128)),
            _mm256_setzero_si256()));
        float least;
        bit = adaptive_pick<CB>(_mm256_blendv_ps(round8(Acc{s_lo, s_hi}), round8(Acc{t_lo, t_hi}), pick), first,
                                least);
        if (a.stop && adaptive_best<CB>(least) > a.limit) {
            bit = 0;
            break;
        }
        winner[i] = __builtin_ctz(bit);
    }
    a.pending = bit;
    return i;
}

// adaptive_run() for the pass's number of values: unrolled up to 8.
template <bool CB>
std::size_t adaptive_rows(AdaptivePass& a, const float* rows, std::size_t n, std::int32_t* winner) {
    switch (a.nvars) {
    case 1: return adaptive_run<CB, 1>(a, rows, n, winner);
    case 2: return adaptive_run<CB, 2>(a, rows, n, winner);
    case 3: return adaptive_run<CB, 3>(a, rows, n, winner);
    case 4: return adaptive_run<CB, 4>(a, rows, n, winner);
    case 5: return adaptive_run<CB, 5>(a, rows, n, winner);
    case 6: return adaptive_run<CB, 6>(a, rows, n, winner);
    case 7: return adaptive_run<CB, 7>(a, rows, n, winner);
    case 8: return adaptive_run<CB, 8>(a, rows, n, winner);
    default: return adaptive_run<CB, 0>(a, rows, n, winner);
    }
}

}  // namespace

std::size_t nearest_adaptive_avx2(AdaptivePass& a, const float* rows, std::size_t n, std::int32_t* winner) {
    return a.cityblock ? adaptive_rows<true>(a, rows, n, winner) : adaptive_rows<false>(a, rows, n, winner);
}

void nearest_adaptive_end_avx2(AdaptivePass& a) {
    __m256d m_lo, m_hi;
    lanes_of(a.pending, m_lo, m_hi);
    a.pending = 0;
    for (int v = 0; v < a.nvars; ++v) {
        double* col = a.cols + 8 * v;
        const double* mv = a.moved + 8 * v;
        _mm256_store_pd(col, _mm256_blendv_pd(_mm256_load_pd(col), _mm256_load_pd(mv), m_lo));
        _mm256_store_pd(col + 4, _mm256_blendv_pd(_mm256_load_pd(col + 4), _mm256_load_pd(mv + 4), m_hi));
    }
}

}  // namespace kmeans
