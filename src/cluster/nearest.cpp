// The kernels of the nearest-centre search and the choice between them.
//
// Every kernel computes, for 8 centres at a time, each centre's sum exactly
// as distance() does: (x[v] - c[v]) in double, squared (or its absolute value
// taken) in double, added to the centre's own double sum in variable order,
// the sum rounded to float. Lanes never mix: lane j of every vector belongs
// to centre j of the group. The sums are then decided in the order of the
// clusters (accept() and its vector forms decide8() and decide_block()).
#include "cluster/nearest.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>

#include "base/limits.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KMEANS_NEAREST_X86 1
#endif

namespace kmeans {

namespace {

// The float after `f` (not negative, below infinity), by a step of the bit
// pattern.
inline float next_up(float f) { return std::bit_cast<float>(std::bit_cast<std::uint32_t>(f) + 1u); }

// Why the cut is exact. Let r be 0 or a normal float, r+ the next float above
// it and m = (r + r+) / 2, the point where rounding to float switches from r
// to r+. m has at most 25 significant bits, so m and m * m (at most 50 bits)
// are exact in double. A float sum s (24 bits) is never equal to m * m: the
// odd part of m * m has more than 24 bits. Nor is its exact root close to m:
// |s - m * m| is at least m * m / 2^50, so |sqrt(s) - m| is above m / 2^52,
// more than half a double step at m. So the root rounded to double lies on
// the same side of m as the exact root, and the root rounded to float is at
// most r exactly when s < m * m. The cut is the smallest float not below
// m * m; for the largest distances it is infinity (every finite sum is in).
// (euclid_cut() without a call.)
inline float cut_of(float r) {
    const double m = (static_cast<double>(r) + static_cast<double>(next_up(r))) * 0.5;
    const double m2 = m * m;
    const float cut = static_cast<float>(m2);
    const std::uint32_t up = static_cast<double>(cut) < m2 ? 1u : 0u;
    return std::bit_cast<float>(std::bit_cast<std::uint32_t>(cut) + up);
}

}  // namespace

float euclid_cut(float r) { return cut_of(r); }

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();

// The distance of a float sum of squares: its root taken in double, rounded
// to float. That is the single-precision root of the sum, correctly rounded
// (double carries more than 2 * 24 + 2 bits, so rounding twice is harmless),
// which vector instructions give for 8 sums at once.
inline float root(float sum) { return static_cast<float>(std::sqrt(static_cast<double>(sum))); }

// The search so far: the best distance (FLT_MAX at the start) and its
// cluster, and `bound`, the sum of that cluster: a sum at or above it has a
// distance at least the best, so it cannot win (nor can a partial sum at or
// above it grow into a winner). At the start every finite Euclidean sum may
// win (its root is below FLT_MAX), and every Cityblock sum below FLT_MAX.
struct Best {
    float dist;
    float bound;
    int winner;
};

inline Best start(bool cityblock) { return Best{FLT_MAX, cityblock ? FLT_MAX : inf, -1}; }

// The sums `sums` of the clusters base..base+n-1, decided in order as by
// measuring every distance: a cluster wins with a distance strictly below the
// best so far, if `take` accepts it. A root is taken only for a sum below the
// bound.
template <bool CB>
void accept(Best& b, const float* sums, int n, int base, detail::TakeRef take) {
    for (int j = 0; j < n; ++j) {
        const float s = sums[j];
        if (!(s < b.bound)) continue;
        const float d = CB ? s : root(s);
        if (d < b.dist && (!take.fn || take.fn(take.ctx, base + j))) {
            b.dist = d;
            b.bound = s;
            b.winner = base + j;
        }
    }
}

// --- the portable kernel -----------------------------------------------------

// The sum of one centre `c` (as distance() adds it).
template <bool CB>
inline float sum1(const float* x, const float* c, int nvars) {
    double s = 0.0;
    for (int v = 0; v < nvars; ++v) {
        const double d = static_cast<double>(x[v]) - static_cast<double>(c[v]);
        s += CB ? std::fabs(d) : d * d;
    }
    return static_cast<float>(s);
}

// Row-major centres, 4 at a time (four independent chains of additions),
// the last few one by one.
template <bool CB>
int row_major_portable(const float* centres, int stride, int ncand, const float* x, int nvars,
                       detail::TakeRef take, float& best) {
    Best b = start(CB);
    const std::size_t step = static_cast<std::size_t>(stride);
    const float* c0 = centres;
    int k0 = 0;
    for (; k0 + 4 <= ncand; k0 += 4, c0 += 4 * step) {
        const float* c1 = c0 + step;
        const float* c2 = c1 + step;
        const float* c3 = c2 + step;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (int v = 0; v < nvars; ++v) {
            const double xv = x[v];
            const double d0 = xv - static_cast<double>(c0[v]), d1 = xv - static_cast<double>(c1[v]);
            const double d2 = xv - static_cast<double>(c2[v]), d3 = xv - static_cast<double>(c3[v]);
            if (CB) {
                s0 += std::fabs(d0);
                s1 += std::fabs(d1);
                s2 += std::fabs(d2);
                s3 += std::fabs(d3);
            } else {
                s0 += d0 * d0;
                s1 += d1 * d1;
                s2 += d2 * d2;
                s3 += d3 * d3;
            }
        }
        const float sums[4] = {static_cast<float>(s0), static_cast<float>(s1), static_cast<float>(s2),
                               static_cast<float>(s3)};
        accept<CB>(b, sums, 4, k0, take);
    }
    for (; k0 < ncand; ++k0, c0 += step) {
        const float s = sum1<CB>(x, c0, nvars);
        accept<CB>(b, &s, 1, k0, take);
    }
    best = b.dist;
    return b.winner;
}

// The groups of 8 prepared centres from k0 on, G groups side by side; stops
// early when every partial sum has reached the best one's sum.
template <bool CB, int G>
void groups_portable(const CentreSet& s, int k0, const float* x, Best& b) {
    double acc[G][8] = {};
    const std::size_t width = static_cast<std::size_t>(s.width);
    const int nvars = s.nvars;
    for (int v = 0; v < nvars;) {
        const int end = nvars - v > 32 ? v + 16 : nvars;
        for (; v < end; ++v) {
            const double xv = x[v];
            const double* col = s.cols.data() + static_cast<std::size_t>(v) * width + static_cast<std::size_t>(k0);
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g)
                for (int j = 0; j < 8; ++j) {
                    const double d = xv - col[8 * g + j];
                    acc[g][j] += CB ? std::fabs(d) : d * d;
                }
        }
        if (v < nvars) {
            bool any = false;
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g)
                for (int j = 0; j < 8; ++j) any |= static_cast<float>(acc[g][j]) < b.bound;
            if (!any) return;
        }
    }
    #pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
        float sums[8];
        for (int j = 0; j < 8; ++j) sums[j] = static_cast<float>(acc[g][j]);
        accept<CB>(b, sums, 8, k0 + 8 * g, detail::TakeRef{});
    }
}

template <bool CB>
void rows_portable(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                   float* best) {
    for (std::size_t i = 0; i < n; ++i) {
        const float* x = rows + i * static_cast<std::size_t>(nvars);
        Best b = start(CB);
        int k0 = 0;
        for (; k0 + 16 <= s.width; k0 += 16) groups_portable<CB, 2>(s, k0, x, b);
        for (; k0 < s.width; k0 += 8) groups_portable<CB, 1>(s, k0, x, b);
        winner[i] = b.winner >= 0 ? b.winner : s.first;
        best[i] = b.dist;
    }
}

#ifdef KMEANS_NEAREST_X86

// --- AVX2 and AVX-512 ----------------------------------------------------------
//
// Both kernels handle centres 8 at a time: 8 double lanes (two AVX2 vectors,
// one AVX-512 vector), rounded to one vector of 8 float sums. Their common
// body is nearest_kernels.inc, compiled once for each instruction set; the
// pieces below are AVX2 code that both use.

#pragma GCC push_options
#pragma GCC target("avx2")

// Transposes 8 rows of 8 floats: t[v] lane j = r[j] lane v.
inline void transpose8(const __m256 r[8], __m256 t[8]) {
    const __m256 a0 = _mm256_unpacklo_ps(r[0], r[1]), a1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 a2 = _mm256_unpacklo_ps(r[2], r[3]), a3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 a4 = _mm256_unpacklo_ps(r[4], r[5]), a5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 a6 = _mm256_unpacklo_ps(r[6], r[7]), a7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 b0 = _mm256_shuffle_ps(a0, a2, 0x44), b1 = _mm256_shuffle_ps(a0, a2, 0xEE);
    const __m256 b2 = _mm256_shuffle_ps(a1, a3, 0x44), b3 = _mm256_shuffle_ps(a1, a3, 0xEE);
    const __m256 b4 = _mm256_shuffle_ps(a4, a6, 0x44), b5 = _mm256_shuffle_ps(a4, a6, 0xEE);
    const __m256 b6 = _mm256_shuffle_ps(a5, a7, 0x44), b7 = _mm256_shuffle_ps(a5, a7, 0xEE);
    t[0] = _mm256_permute2f128_ps(b0, b4, 0x20);
    t[1] = _mm256_permute2f128_ps(b1, b5, 0x20);
    t[2] = _mm256_permute2f128_ps(b2, b6, 0x20);
    t[3] = _mm256_permute2f128_ps(b3, b7, 0x20);
    t[4] = _mm256_permute2f128_ps(b0, b4, 0x31);
    t[5] = _mm256_permute2f128_ps(b1, b5, 0x31);
    t[6] = _mm256_permute2f128_ps(b2, b6, 0x31);
    t[7] = _mm256_permute2f128_ps(b3, b7, 0x31);
}

// Loads values vb..vb+7 of the 8 rows (only the first `nv` of them when fewer
// remain; the rest read as 0 and are not used).
inline void load8(const float* const* rows, int vb, int nv, __m256 r[8]) {
    if (nv >= 8) {
        for (int j = 0; j < 8; ++j) r[j] = _mm256_loadu_ps(rows[j] + vb);
    } else {
        const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(nv), lane);
        for (int j = 0; j < 8; ++j) r[j] = _mm256_maskload_ps(rows[j] + vb, mask);
    }
}

// Values vb..vb+nv-1 of the 8 rows (nv at most 4), transposed: t[v] lane j
// = rows[j][vb + v]. Half the shuffles of load8() and transpose8().
inline void load_transpose4(const float* const* rows, int vb, int nv, __m256 t[4]) {
    __m128 r[8];
    if (nv >= 4) {
        for (int j = 0; j < 8; ++j) r[j] = _mm_loadu_ps(rows[j] + vb);
    } else {
        const __m128i mask = _mm_cmpgt_epi32(_mm_set1_epi32(nv), _mm_setr_epi32(0, 1, 2, 3));
        for (int j = 0; j < 8; ++j) r[j] = _mm_maskload_ps(rows[j] + vb, mask);
    }
    const __m256 r04 = _mm256_set_m128(r[4], r[0]), r15 = _mm256_set_m128(r[5], r[1]);
    const __m256 r26 = _mm256_set_m128(r[6], r[2]), r37 = _mm256_set_m128(r[7], r[3]);
    const __m256 a0 = _mm256_unpacklo_ps(r04, r15), a1 = _mm256_unpackhi_ps(r04, r15);
    const __m256 a2 = _mm256_unpacklo_ps(r26, r37), a3 = _mm256_unpackhi_ps(r26, r37);
    t[0] = _mm256_shuffle_ps(a0, a2, 0x44);
    t[1] = _mm256_shuffle_ps(a0, a2, 0xEE);
    t[2] = _mm256_shuffle_ps(a1, a3, 0x44);
    t[3] = _mm256_shuffle_ps(a1, a3, 0xEE);
}

// Values vb..vb+nv-1 (nv at most 8) of the 8 rows, transposed.
inline void rows_transposed(const float* const* rows, int vb, int nv, __m256 t[8]) {
    if (nv <= 4) {
        load_transpose4(rows, vb, nv, t);
    } else {
        __m256 r[8];
        load8(rows, vb, nv, r);
        transpose8(r, t);
    }
}

// Row pointers of the 8 centres k0..k0+7 (the last real one repeated past
// ncand) and the mask of the real ones.
inline unsigned rows8(const float* centres, int stride, int ncand, int k0, const float* rows[8]) {
    const int n = ncand - k0 < 8 ? ncand - k0 : 8;
    for (int j = 0; j < 8; ++j)
        rows[j] = centres + static_cast<std::size_t>(k0 + (j < n ? j : n - 1)) * static_cast<std::size_t>(stride);
    return (1u << n) - 1u;
}

// The lanes of `f` below `limit` (never a NaN lane).
inline unsigned below8(__m256 f, float limit) {
    return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(f, _mm256_set1_ps(limit), _CMP_LT_OQ)));
}

// The smallest of the 8 lanes of `f` (none of them NaN).
inline float min8(__m256 f) {
    f = _mm256_min_ps(f, _mm256_permute2f128_ps(f, f, 0x01));
    f = _mm256_min_ps(f, _mm256_shuffle_ps(f, f, 0x4E));
    f = _mm256_min_ps(f, _mm256_shuffle_ps(f, f, 0xB1));
    return _mm256_cvtss_f32(f);
}

// Keeps in `lo` the smaller of `lo` and `f`, lane by lane; a NaN lane of `f`
// leaves `lo` as it was (the instruction returns its second operand when
// either is NaN).
inline __m256 keep_min(__m256 f, __m256 lo) { return _mm256_min_ps(f, lo); }

// The 8 sums `f` of clusters base.. (the `valid` lanes count) decided at
// once, as accept() would: the lanes below the bound, then among them those
// whose distance (8 roots at once) lies below the best; of these the lowest
// lane of the smallest distance wins. The candidate test, when there is one,
// is asked lane by lane about those lanes only.
template <bool CB>
inline void decide8(Best& b, __m256 f, unsigned valid, int base, detail::TakeRef take) {
    unsigned below = below8(f, b.bound) & valid;
    if (below == 0) return;
    const __m256 d = CB ? f : _mm256_sqrt_ps(f);
    below &= below8(d, b.dist);
    if (below == 0) return;
    if (take.fn) {
        for (unsigned m = below; m != 0; m &= m - 1) {
            const int j = std::countr_zero(m);
            if (!take.fn(take.ctx, base + j)) below &= ~(1u << j);
        }
        if (below == 0) return;
    }
    const __m256i bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    const __m256i in = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(static_cast<int>(below)), bit), bit);
    const float lo = min8(_mm256_blendv_ps(_mm256_set1_ps(inf), d, _mm256_castsi256_ps(in)));
    const unsigned at = static_cast<unsigned>(
        _mm256_movemask_ps(_mm256_cmp_ps(d, _mm256_set1_ps(lo), _CMP_EQ_OQ)));
    const int j = std::countr_zero(at & below);
    b.dist = lo;
    b.bound = _mm256_cvtss_f32(_mm256_permutevar8x32_ps(f, _mm256_set1_epi32(j)));
    b.winner = base + j;
}

// The decision for a block of `n` groups of 8 (clusters base..) whose sums
// are in `sums` and whose lane-by-lane smallest is `lo`: the distance of the
// smallest sum, if below the best, is the new best, and the winner is the
// first lane whose sum lies below the bound of that distance (for Cityblock
// the sums equal to it, for Euclidean those below its cut: every sum whose
// root rounds to the same). NaN lanes never are.
template <bool CB>
inline void decide_block(Best& b, const float* sums, int n, __m256 lo, int base) {
    const float least = min8(lo);
    const float d = CB ? least : _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(least)));
    if (!(d < b.dist)) return;
    const float upto = CB ? next_up(least) : cut_of(d);
    b.dist = d;
    b.bound = least;
    for (int g = 0; g < n; ++g) {
        const unsigned m = below8(_mm256_load_ps(sums + 8 * g), upto);
        if (m) {
            b.winner = base + 8 * g + std::countr_zero(m);
            return;
        }
    }
}

// The lane set of 8 double sums: two halves of 4.
struct Acc2 {
    __m256d lo, hi;
};

// Adds the terms of (x - c) for the 8 centre values c_lo, c_hi to `a`.
template <bool CB>
inline void add8(Acc2& a, __m256d xv, __m256d c_lo, __m256d c_hi) {
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

namespace avx2 {

using Acc = Acc2;
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

#include "cluster/nearest_kernels.inc"

}  // namespace avx2

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512vl")

namespace avx512 {

using Acc = __m512d;
constexpr int G1 = 4;  // groups side by side for one row
constexpr int G4 = 2;  // groups side by side for four rows

inline Acc zero() { return _mm512_setzero_pd(); }

// The zero-masking conversions with every lane selected are the plain ones;
// the plain intrinsics of GCC 12 draw a false "may be used uninitialized".
inline __m512d widen8(__m256 f) { return _mm512_maskz_cvtps_pd(0xFF, f); }
inline __m256 round8(Acc a) { return _mm512_maskz_cvtpd_ps(0xFF, a); }

template <bool CB>
inline void add8(Acc& a, __m512d xv, __m512d c) {
    const __m512d d = _mm512_sub_pd(xv, c);
    a = _mm512_add_pd(a, CB ? _mm512_abs_pd(d) : _mm512_mul_pd(d, d));
}

template <bool CB>
inline void add_rows(Acc& a, const float* const* rows, const double* xd, int vb, int nv) {
    __m256 t[8];
    rows_transposed(rows, vb, nv, t);
    for (int v = 0; v < nv; ++v) add8<CB>(a, _mm512_set1_pd(xd[vb + v]), widen8(t[v]));
}

template <bool CB, int R, int G>
inline void add_cols(Acc (&a)[R][G], const double* col0, std::size_t width, const float* const* xs, int v0, int v1) {
    for (int v = v0; v < v1; ++v) {
        const double* col = col0 + static_cast<std::size_t>(v) * width;
        __m512d c[G];
        #pragma GCC unroll 8
        for (int g = 0; g < G; ++g) c[g] = _mm512_loadu_pd(col + 8 * g);
        #pragma GCC unroll 8
        for (int r = 0; r < R; ++r) {
            const __m512d xv = _mm512_set1_pd(static_cast<double>(xs[r][v]));
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g) add8<CB>(a[r][g], xv, c[g]);
        }
    }
}

#include "cluster/nearest_kernels.inc"

}  // namespace avx512

#pragma GCC pop_options

#endif  // KMEANS_NEAREST_X86

NearestPath detect_path() {
#ifdef KMEANS_NEAREST_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) return NearestPath::avx512;
    if (__builtin_cpu_supports("avx2")) return NearestPath::avx2;
#endif
    return NearestPath::portable;
}

}  // namespace

NearestPath nearest_path_best() {
    static const NearestPath best = detect_path();
    return best;
}

NearestPath nearest_path_for(int ncand, int nvars) {
    const NearestPath best = nearest_path_best();
    if (best == NearestPath::avx512 && ncand <= 8 && nvars < 32) return NearestPath::avx2;
    return best;
}

bool nearest_path_runs(NearestPath path) {
    return static_cast<int>(path) >= 0 && static_cast<int>(path) <= static_cast<int>(nearest_path_best());
}

const char* nearest_path_name(NearestPath path) {
    switch (path) {
    case NearestPath::avx512: return "avx512";
    case NearestPath::avx2: return "avx2";
    default: return "portable";
    }
}

int detail::search_row_major(NearestPath path, const float* centres, int stride, int ncand, const float* x,
                             int nvars, bool use_cityblock, TakeRef take, float& best) {
#ifdef KMEANS_NEAREST_X86
    // Rows of one or two values: transposing 8 centres costs more than the
    // sums themselves, and the portable kernel is faster.
    if (nvars <= 2) path = NearestPath::portable;
    if (path == NearestPath::avx512)
        return use_cityblock ? avx512::row_major<true>(centres, stride, ncand, x, nvars, take, best)
                             : avx512::row_major<false>(centres, stride, ncand, x, nvars, take, best);
    if (path == NearestPath::avx2)
        return use_cityblock ? avx2::row_major<true>(centres, stride, ncand, x, nvars, take, best)
                             : avx2::row_major<false>(centres, stride, ncand, x, nvars, take, best);
#endif
    (void)path;
    return use_cityblock ? row_major_portable<true>(centres, stride, ncand, x, nvars, take, best)
                         : row_major_portable<false>(centres, stride, ncand, x, nvars, take, best);
}

void centres_update(CentreSet& s, const Centres& c, int k, bool candidate) {
    const float* row = c.row(k);
    const std::size_t width = static_cast<std::size_t>(s.width);
    for (int v = 0; v < s.nvars; ++v)
        s.cols[static_cast<std::size_t>(v) * width + static_cast<std::size_t>(k)] =
            candidate ? static_cast<double>(row[v]) : std::numeric_limits<double>::quiet_NaN();
    s.take[static_cast<std::size_t>(k)] = candidate ? 1 : 0;
    if (candidate) {
        if (s.first < 0 || k < s.first) s.first = k;
    } else if (k == s.first) {
        s.first = -1;
        for (int j = k + 1; j < s.ncand; ++j)
            if (s.take[static_cast<std::size_t>(j)]) {
                s.first = j;
                break;
            }
    }
}

void nearest_rows(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                  float* best) {
#ifdef KMEANS_NEAREST_X86
    if (s.path == NearestPath::avx512) {
        if (s.cityblock) avx512::rows<true>(s, rows, n, nvars, winner, best);
        else avx512::rows<false>(s, rows, n, nvars, winner, best);
        return;
    }
    if (s.path == NearestPath::avx2) {
        if (s.cityblock) avx2::rows<true>(s, rows, n, nvars, winner, best);
        else avx2::rows<false>(s, rows, n, nvars, winner, best);
        return;
    }
#endif
    if (s.cityblock) rows_portable<true>(s, rows, n, nvars, winner, best);
    else rows_portable<false>(s, rows, n, nvars, winner, best);
}

}  // namespace kmeans
