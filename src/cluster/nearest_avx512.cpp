// The AVX-512 kernel of the nearest-centre search, compiled with -mavx2
// -mavx512f -mavx512vl (and only on x86-64; see CMakeLists.txt). Everything
// but its two entry points lies in the anonymous namespace: see
// nearest_kernels.h.
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

// The lane set of 8 double sums: one vector.
using Acc = __m512d;
constexpr int G1 = 4;  // groups side by side for one row
constexpr int G4 = 2;  // groups side by side for four rows

inline Acc zero() { return _mm512_setzero_pd(); }

// The zero-masking conversions with every lane selected are the plain ones;
// the plain intrinsics of GCC 12 draw a false "may be used uninitialized".
inline __m512d widen8(__m256 f) { return _mm512_maskz_cvtps_pd(0xFF, f); }
inline __m256 round8(Acc a) { return _mm512_maskz_cvtpd_ps(0xFF, a); }

// Adds the terms of (x - c) for the 8 centre values `c` to `a`.
template <bool CB>
inline void add8(Acc& a, __m512d xv, __m512d c) {
    const __m512d d = _mm512_sub_pd(xv, c);
    a = _mm512_add_pd(a, CB ? _mm512_abs_pd(d) : _mm512_mul_pd(d, d));
}

// Adds values vb..vb+nv-1 of the 8 row-major centres `rows` to `a`; `xd` is
// the row in double.
template <bool CB>
inline void add_rows(Acc& a, const float* const* rows, const double* xd, int vb, int nv) {
    __m256 t[8];
    rows_transposed(rows, vb, nv, t);
    for (int v = 0; v < nv; ++v) add8<CB>(a, _mm512_set1_pd(xd[vb + v]), widen8(t[v]));
}

// Adds values v0..v1-1 of G groups of 8 prepared centres (`col0` at the first
// centre of value 0) for R rows.
template <bool CB, int R, int G>
inline void add_cols(Acc (&a)[R][G], const double* col0, std::size_t width, const double* const* xs, int v0, int v1) {
    for (int v = v0; v < v1; ++v) {
        const double* col = col0 + static_cast<std::size_t>(v) * width;
        __m512d c[G];
        #pragma GCC unroll 8
        for (int g = 0; g < G; ++g) c[g] = _mm512_loadu_pd(col + 8 * g);
        #pragma GCC unroll 8
        for (int r = 0; r < R; ++r) {
            const __m512d xv = _mm512_set1_pd(xs[r][v]);
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g) add8<CB>(a[r][g], xv, c[g]);
        }
    }
}

// Adds all nvars values of G blocks of 8 prepared centres (block g's value 0
// at at[g], value v `width` doubles further) for the row `x`.
template <bool CB, int G>
inline void add_blocks(Acc (&a)[G], const double* const* at, std::size_t width, const float* x, int nvars) {
    for (int v = 0; v < nvars; ++v) {
        const __m512d xv = _mm512_set1_pd(static_cast<double>(x[v]));
        const std::size_t off = static_cast<std::size_t>(v) * width;
        #pragma GCC unroll 8
        for (int g = 0; g < G; ++g) add8<CB>(a[g], xv, _mm512_loadu_pd(at[g] + off));
    }
}

// The float sums of squares q of R rows `xs` (see nearest_short_avx512() in
// nearest_kernels.h) against G groups of 8 columns from k0 on, two groups in
// one vector of 16 where G is even: to q[r] + k0 + 8g; lane by lane (8
// lanes), the smallest to m1[r] and the second smallest to m2[r] (as a
// multiset; a NaN lane changes neither, see tile()).
constexpr int QG = 4;  // groups side by side in q_tile()

// The smallest two of `f` lane by lane into m1, m2 (see q_tile()).
inline void keep_two(__m256 f, __m256& m1, __m256& m2) {
    m2 = _mm256_min_ps(_mm256_max_ps(m1, f), m2);
    m1 = keep_min(f, m1);
}

template <int R, int G>
inline void q_tile(const ShortCentres& c, std::size_t width, const float* const* xs, int k0, float* const* q,
                   __m256* m1, __m256* m2) {
    const float* col = c.cols + k0;
    if constexpr (G % 2 == 0) {
        constexpr int V = G / 2;
        __m512 a[R][V];
        #pragma GCC unroll 8
        for (int r = 0; r < R; ++r)
            #pragma GCC unroll 8
            for (int g = 0; g < V; ++g) a[r][g] = _mm512_setzero_ps();
        for (int v = 0; v < c.nvars; ++v, col += width) {
            __m512 cv[V];
            #pragma GCC unroll 8
            for (int g = 0; g < V; ++g) cv[g] = _mm512_loadu_ps(col + 16 * g);
            #pragma GCC unroll 8
            for (int r = 0; r < R; ++r) {
                const __m512 xv = _mm512_set1_ps(xs[r][v]);
                #pragma GCC unroll 8
                for (int g = 0; g < V; ++g) {
                    const __m512 d = _mm512_sub_ps(xv, cv[g]);
                    a[r][g] = _mm512_add_ps(a[r][g], _mm512_mul_ps(d, d));
                }
            }
        }
        #pragma GCC unroll 8
        for (int r = 0; r < R; ++r)
            #pragma GCC unroll 8
            for (int g = 0; g < V; ++g) {
                _mm512_storeu_ps(q[r] + k0 + 16 * g, a[r][g]);
                const __m512d both = _mm512_castps_pd(a[r][g]);
                keep_two(_mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xF, both, 0)), m1[r], m2[r]);
                keep_two(_mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xF, both, 1)), m1[r], m2[r]);
            }
    } else {
        __m256 a[R][G];
        #pragma GCC unroll 8
        for (int r = 0; r < R; ++r)
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g) a[r][g] = _mm256_setzero_ps();
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
        for (int r = 0; r < R; ++r)
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                _mm256_storeu_ps(q[r] + k0 + 8 * g, a[r][g]);
                keep_two(a[r][g], m1[r], m2[r]);
            }
    }
}

#include "cluster/nearest_kernels.inc"

}  // namespace

int nearest_row_major_avx512(const float* centres, int stride, int ncand, const float* x, int nvars,
                             bool cityblock, TakeRef take, float& best) {
    return cityblock ? row_major<true>(centres, stride, ncand, x, nvars, take, best)
                     : row_major<false>(centres, stride, ncand, x, nvars, take, best);
}

void nearest_rows_avx512(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                         std::int32_t* winner, float* best) {
    if (cityblock) search_rows<true>(s, rows, n, nvars, winner, best);
    else search_rows<false>(s, rows, n, nvars, winner, best);
}

void nearest_short_avx512(const ShortCentres& c, const float* rows, std::size_t n, int stride, std::int32_t* winner,
                          float* best, float* lows, float* second, unsigned char* plain) {
    short_search(c, rows, n, stride, winner, best, lows, second, plain);
}

void nearest_rows_second_avx512(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                                std::int32_t* winner, float* best, float* second) {
    if (cityblock) search_rows_second<true>(s, rows, n, nvars, winner, best, second);
    else search_rows_second<false>(s, rows, n, nvars, winner, best, second);
}

void nearest_screen_avx512(const BlockedCentres& b, const float* rows, std::size_t n, int stride, const double* nx,
                           unsigned char* cand, float* lows, float* rest) {
    screen(b, rows, n, stride, nx, cand, lows, rest);
}

void nearest_rows_all_avx512(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                             std::int32_t* winner, float* best, float* sums) {
    if (cityblock) search_rows_all<true>(s, rows, n, nvars, winner, best, sums);
    else search_rows_all<false>(s, rows, n, nvars, winner, best, sums);
}

void nearest_block_sums_avx512(const CentreColumns& s, bool cityblock, const float* x, const std::int32_t* blocks,
                               int n, float* sums, float* mins) {
    if (cityblock) block_sums<true>(s, x, blocks, n, sums, mins);
    else block_sums<false>(s, x, blocks, n, sums, mins);
}

void nearest_all_block_sums_avx512(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                                   float* sums, float* mins) {
    if (cityblock) all_block_sums<true>(s, rows, n, nvars, sums, mins);
    else all_block_sums<false>(s, rows, n, nvars, sums, mins);
}

void sums_add_avx512(float* sums, std::uint32_t* count, const float* rows, const std::int32_t* clustno,
                     std::size_t n, int nvars, int v0, int v1) {
    // 16 values at a time, then 8, then the rest under a mask (a masked
    // store is slower to load from again, which the next row of the same
    // cluster does).
    const std::size_t stride = static_cast<std::size_t>(nvars);
    const int whole = v0 + (v1 - v0) / 16 * 16;
    const int eight = (v1 - whole) >= 8 ? whole + 8 : whole;
    const __mmask8 mask = static_cast<__mmask8>((1u << (v1 - eight)) - 1u);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = static_cast<std::size_t>(clustno[i]);
        float* sum = sums + k * stride;
        const float* x = rows + i * stride;
        int v = v0;
        for (; v < whole; v += 16) _mm512_storeu_ps(sum + v, _mm512_add_ps(_mm512_loadu_ps(sum + v), _mm512_loadu_ps(x + v)));
        if (eight > whole) _mm256_storeu_ps(sum + v, _mm256_add_ps(_mm256_loadu_ps(sum + v), _mm256_loadu_ps(x + v)));
        if (v1 > eight)
            _mm256_mask_storeu_ps(sum + eight, mask,
                                  _mm256_add_ps(_mm256_maskz_loadu_ps(mask, sum + eight), _mm256_maskz_loadu_ps(mask, x + eight)));
        if (count) ++count[k];
    }
}

namespace {

// The rows of an adaptive pass (AdaptivePass; nearest_adaptive_avx512()) of
// NV values (NV = 0: a.nvars, up to adaptive_max_vars), the 8 centres of a
// value in one vector, the centres held in registers from row to row (for
// NV up to 8); returns the rows taken. The differences x - c serve the sums
// and the moves alike (the move of pull_quads(): c + alpha * (x - c)).
template <bool CB, int NV>
std::size_t adaptive_run(AdaptivePass& a, const float* rows, std::size_t n, std::int32_t* winner) {
    const int nv = NV ? NV : a.nvars;
    __m512d c[NV ? NV : adaptive_max_vars], t[NV ? NV : adaptive_max_vars];
    #pragma GCC unroll 8
    for (int v = 0; v < nv; ++v) {
        c[v] = _mm512_load_pd(a.cols + 8 * v);
        t[v] = _mm512_load_pd(a.moved + 8 * v);
    }
    const __m512d al = _mm512_set1_pd(static_cast<double>(a.alpha));
    const unsigned first = 1u << a.first;
    unsigned bit = a.pending;
    std::size_t i = 0;
    for (; i < n; ++i, rows += nv) {
        alignas(64) double xd[adaptive_max_vars];
        for (int v = 0; v < nv; v += 8) {
            const __mmask8 in = static_cast<__mmask8>(nv - v >= 8 ? 0xFFu : (1u << (nv - v)) - 1u);
            _mm512_store_pd(xd + v, widen8(_mm256_maskz_loadu_ps(in, rows + v)));
        }
        const __mmask8 m = static_cast<__mmask8>(bit);
        __m512d stood = zero(), moved = zero();
        #pragma GCC unroll 8
        for (int v = 0; v < nv; ++v) {
            const __m512d xv = _mm512_set1_pd(xd[v]);
            const __m512d dc = _mm512_sub_pd(xv, c[v]), dt = _mm512_sub_pd(xv, t[v]);
            // The first term is the sum so far: 0 + a term (never -0) is the term.
            const __m512d tc = CB ? _mm512_abs_pd(dc) : _mm512_mul_pd(dc, dc);
            const __m512d tt = CB ? _mm512_abs_pd(dt) : _mm512_mul_pd(dt, dt);
            stood = NV && v == 0 ? tc : _mm512_add_pd(stood, tc);
            moved = NV && v == 0 ? tt : _mm512_add_pd(moved, tt);
            // The centres as they stand for this row, and each one's move towards it.
            c[v] = _mm512_mask_blend_pd(m, c[v], t[v]);
            const __m512d d = _mm512_mask_blend_pd(m, dc, dt);
            t[v] = widen8(round8(_mm512_add_pd(c[v], _mm512_mul_pd(al, d))));
        }
        float least;
        bit = adaptive_pick<CB>(_mm256_mask_blend_ps(m, round8(stood), round8(moved)), first, least);
        if (a.stop && adaptive_best<CB>(least) > a.limit) {
            bit = 0;
            break;
        }
        winner[i] = __builtin_ctz(bit);
    }
    #pragma GCC unroll 8
    for (int v = 0; v < nv; ++v) {
        _mm512_store_pd(a.cols + 8 * v, c[v]);
        _mm512_store_pd(a.moved + 8 * v, t[v]);
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

std::size_t nearest_adaptive_avx512(AdaptivePass& a, const float* rows, std::size_t n, std::int32_t* winner) {
    return a.cityblock ? adaptive_rows<true>(a, rows, n, winner) : adaptive_rows<false>(a, rows, n, winner);
}

}  // namespace kmeans
