// The choice between the kernels of the nearest-centre search and the
// prepared centres. The kernels themselves are in translation units of their
// own (nearest_kernels.h).
#include "cluster/nearest.h"

#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <limits>

#include "cluster/distance.h"

namespace kmeans {

namespace {

NearestPath detect_path() {
#ifdef KMEANS_VECTOR_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) return NearestPath::avx512;
    if (__builtin_cpu_supports("avx2")) return NearestPath::avx2;
#endif
    return NearestPath::portable;
}

// The kernel that `kernel` forces (portable for automatic, which forces none).
NearestPath forced_path(Kernel kernel) {
    switch (kernel) {
    case Kernel::avx512: return NearestPath::avx512;
    case Kernel::avx2: return NearestPath::avx2;
    default: return NearestPath::portable;
    }
}

}  // namespace

NearestPath nearest_path_best() {
    static const NearestPath best = detect_path();
    return best;
}

NearestPath nearest_path_for(Kernel kernel, int ncand, int nvars) {
    if (kernel != Kernel::automatic && nearest_path_runs(forced_path(kernel))) return forced_path(kernel);
    const NearestPath best = nearest_path_best();
    if (best == NearestPath::avx512 && ncand <= 8 && nvars < 32) return NearestPath::avx2;
    return best;
}

NearestPath nearest_path_row_major(Kernel kernel, int ncand, int nvars) {
    // Rows of one or two values: transposing 8 centres costs more than the
    // sums themselves, and the portable kernel is faster.
    if (kernel == Kernel::automatic && nvars <= 2) return NearestPath::portable;
    return nearest_path_for(kernel, ncand, nvars);
}

bool nearest_path_runs(NearestPath path) {
    return static_cast<int>(path) >= 0 && static_cast<int>(path) <= static_cast<int>(nearest_path_best());
}

bool nearest_kernel_runs(Kernel kernel) {
    return kernel == Kernel::automatic || nearest_path_runs(forced_path(kernel));
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
    assert(ncand >= 0);
    assert(nvars >= 0 && nvars <= max_vars && nvars <= stride);
    assert(nearest_path_runs(path));
#ifdef KMEANS_VECTOR_KERNELS
    if (path == NearestPath::avx512)
        return nearest_row_major_avx512(centres, stride, ncand, x, nvars, use_cityblock, take, best);
    if (path == NearestPath::avx2)
        return nearest_row_major_avx2(centres, stride, ncand, x, nvars, use_cityblock, take, best);
#endif
    (void)path;
    return nearest_row_major_portable(centres, stride, ncand, x, nvars, use_cityblock, take, best);
}

void centres_update(CentreSet& s, const Centres& c, int k, bool candidate) {
    assert(k >= 0 && k < s.ncand && k < c.K && s.nvars <= c.nvars);
    const float* row = c.row(k);
    const std::size_t width = static_cast<std::size_t>(s.width);
    s.blocked = false;
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

void centres_pull(CentreSet& s, Centres& c, int k, const float* x, float alpha) {
    assert(k >= 0 && k < s.ncand && k < c.K && s.nvars <= c.nvars && s.take[static_cast<std::size_t>(k)]);
    s.blocked = false;
#ifdef KMEANS_VECTOR_KERNELS
    if (s.path != NearestPath::portable)
        return nearest_pull_avx2(s.cols.data(), s.width, k, c.row(k), x, s.nvars, alpha);
#endif
    nearest_pull_portable(s.cols.data(), s.width, k, c.row(k), x, s.nvars, alpha);
}

bool adaptive_pass_runs(const CentreSet& s) {
#ifdef KMEANS_VECTOR_KERNELS
    return s.path != NearestPath::portable && s.ncand <= 8 && s.width == 8 && s.nvars <= adaptive_max_vars;
#else
    (void)s;
    return false;
#endif
}

AdaptivePass adaptive_begin(CentreSet& s, Centres& c, float alpha, Kernel kernel) {
    assert(adaptive_pass_runs(s) && c.nvars == s.nvars && c.K == s.ncand);
    AdaptivePass a;
    a.out = s.cols.data();
    a.centres = c.v.data();
    a.nvars = s.nvars;
    for (int k = 0; k < s.ncand; ++k)
        if (s.take[static_cast<std::size_t>(k)]) a.take |= 1u << k;
    a.first = s.first;
    a.alpha = alpha;
    a.cityblock = s.cityblock;
    a.wide = (kernel == Kernel::automatic || kernel == Kernel::avx512) && nearest_path_runs(NearestPath::avx512);
    std::copy(s.cols.begin(), s.cols.begin() + 8 * s.nvars, a.cols);
    std::copy(s.cols.begin(), s.cols.begin() + 8 * s.nvars, a.moved);
    return a;
}

void adaptive_stop_beyond(AdaptivePass& a, bool on, float limit) {
    a.stop = on;
    a.limit = limit;
}

std::size_t adaptive_rows(AdaptivePass& a, const float* rows, std::size_t n, std::int32_t* winner) {
    assert(n == 0 || a.first >= 0);
    if (n == 0) return 0;
#ifdef KMEANS_VECTOR_KERNELS
    if (a.wide) return nearest_adaptive_avx512(a, rows, n, winner);
    return nearest_adaptive_avx2(a, rows, n, winner);
#else
    (void)a, (void)rows, (void)winner;
    assert(false);
    return 0;
#endif
}

void adaptive_open(AdaptivePass& a, CentreSet& s, Centres& c, int k, const float* x) {
    assert(k >= 0 && k < s.ncand && !(a.take >> k & 1u));
#ifdef KMEANS_VECTOR_KERNELS
    nearest_adaptive_end_avx2(a);
#endif
    std::copy(x, x + a.nvars, c.row(k));
    centres_update(s, c, k, true);
    for (int v = 0; v < a.nvars; ++v) a.cols[8 * v + k] = s.cols[static_cast<std::size_t>(8 * v + k)];
    a.take |= 1u << k;
    a.first = s.first;
}

void adaptive_end(AdaptivePass& a) {
#ifdef KMEANS_VECTOR_KERNELS
    nearest_adaptive_end_avx2(a);
#endif
    std::copy(a.cols, a.cols + 8 * a.nvars, a.out);
    for (int k = 0; k < 8; ++k) {
        if (!(a.take >> k & 1u)) continue;
        float* row = a.centres + static_cast<std::size_t>(k) * static_cast<std::size_t>(a.nvars);
        for (int v = 0; v < a.nvars; ++v) row[v] = static_cast<float>(a.cols[8 * v + k]);
    }
}

namespace {

// What a search gives besides winners and distances: every centre's lower
// bound (nearest_rows_lows()), or the smallest of the others'
// (nearest_rows_second()), or nothing.
struct Extra {
    float* lows = nullptr;
    float* second = nullptr;
};

// The same for the rows from row i on.
Extra extra_from(const Extra& e, std::size_t i, std::size_t width) {
    return Extra{e.lows ? e.lows + i * width : nullptr, e.second ? e.second + i : nullptr};
}

// The searches of the kernels themselves (the set's blocked layout aside).
void plain_rows(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner, float* best,
                Extra e) {
    const CentreColumns cols{s.cols.data(), s.nvars, s.width, s.first};
#ifdef KMEANS_VECTOR_KERNELS
    if (s.path == NearestPath::avx512) {
        if (e.lows) return nearest_rows_all_avx512(cols, s.cityblock, rows, n, nvars, winner, best, e.lows);
        if (e.second) return nearest_rows_second_avx512(cols, s.cityblock, rows, n, nvars, winner, best, e.second);
        return nearest_rows_avx512(cols, s.cityblock, rows, n, nvars, winner, best);
    }
    if (s.path == NearestPath::avx2) {
        if (e.lows) return nearest_rows_all_avx2(cols, s.cityblock, rows, n, nvars, winner, best, e.lows);
        if (e.second) return nearest_rows_second_avx2(cols, s.cityblock, rows, n, nvars, winner, best, e.second);
        return nearest_rows_avx2(cols, s.cityblock, rows, n, nvars, winner, best);
    }
#endif
    if (e.lows) return nearest_rows_all_portable(cols, s.cityblock, rows, n, nvars, winner, best, e.lows);
    if (e.second) return nearest_rows_second_portable(cols, s.cityblock, rows, n, nvars, winner, best, e.second);
    nearest_rows_portable(cols, s.cityblock, rows, n, nvars, winner, best);
}

// Rows of the blocked search taken together: their products side by side.
constexpr int blocked_rows = 8;

// The blocked search (see centres_block() in nearest.h) of `n` rows, and
// what `e` asks for besides: lower bounds of the float sums (the sum itself
// for those measured exactly; see nearest_rows_lows()).
//
// The error bound. For a row x and a centre c of n values, let S be the
// exact sum of squares |x - c|^2 = |x|^2 + |c|^2 - 2 x.c, and A the same
// computed: the squared norms in double (squares of floats are exact in
// double; the n - 1 sums are off by at most (n - 1) 2^-53 relatively), the
// product p in float, A = (|x|^2 + |c|^2) - 2 p in double. A float sum of n
// rounded products is off by at most gamma_n sum |x_v c_v| with
// gamma_n = n u / (1 - n u), u = 2^-24 (Higham, Accuracy and Stability of
// Numerical Algorithms, 3.1), plus 2^-150 for each product that falls below
// the normal floats; sum |x_v c_v| <= |x| |c| (Cauchy-Schwarz), and with the
// roots |x|, |c| taken in double a factor (1 + 2^-20) more covers those.
// The double sums and roundings add at most (n + 8) 2^-52 (|x|^2 + |c|^2).
// So |A - S| <= E = 2 gamma_n (1 + 2^-20) |x| |c| + (n + 8) 2^-52 (|x|^2 +
// |c|^2) + n 2^-147. No product or sum can overflow while |x| and |c| are
// below 2^50 (rows or centres beyond, or not finite, take the plain search).
// Let U be the smallest A + E over the centres: some centre j has S_j <= U.
// The winner w has a distance at most j's, so its float sum is at most the
// largest float of the same root as j's sum, at most j's float sum times
// (1 + 2^-21); a float sum is S (1 +- (2^-24 + (n + 2) 2^-53)) (+- 2^-150),
// so S_w <= U (1 + tau) + 2^-140 with tau = 2^-20 + (n + 2) 2^-50. Every
// centre whose A - E (at most its S) lies at or below that is measured
// exactly; the winner is among them, and among them it wins as it wins
// among all, ties to the lowest index included, since the others are
// decided in index order by the same rule.
void search_blocked(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                    float* best, Extra e) {
    assert(s.blocked && !s.cityblock && s.width <= max_clusters + 8);
    const int width = s.width, nv = s.nvars;
    const std::size_t w = static_cast<std::size_t>(width);
    const double nd = static_cast<double>(nv);
    const double gamma = nd * 0x1p-24 / (1.0 - nd * 0x1p-24);
    const double c1 = 2.0 * gamma * (1.0 + 0x1p-20), c2 = (nd + 8.0) * 0x1p-52, c3 = nd * 0x1p-147;
    const double tau = 0x1p-20 + (nd + 2.0) * 0x1p-50;
    // A lower bound of a float sum from a lower bound `low` of its exact sum.
    const double shrink = 1.0 - 0x1p-21 - (nd + 2.0) * 0x1p-52;
    const BlockedCentres bc{s.colsf.data(), s.norm2.data(), s.norm.data(), nv, width, c1, c2, c3, tau, shrink};
    const std::size_t bytes = w / 8;  // candidate bits of a row
    unsigned char cand[blocked_rows * (max_clusters + 8) / 8];
    // The (row, centre) pairs measured exactly and their sums.
    std::int16_t pair[blocked_rows * (max_clusters + 8)];
    std::uint8_t row_of[blocked_rows * (max_clusters + 8)];
    float sums[blocked_rows * (max_clusters + 8)];
    for (std::size_t i0 = 0; i0 < n; i0 += blocked_rows) {
        const std::size_t m = n - i0 < blocked_rows ? n - i0 : blocked_rows;
        const float* block = rows + i0 * static_cast<std::size_t>(nvars);
        double nx[blocked_rows];
        float rest[blocked_rows];
        bool plain[blocked_rows];
        for (std::size_t r = 0; r < m; ++r) {
            const float* x = block + r * static_cast<std::size_t>(nvars);
            double part[4] = {0.0, 0.0, 0.0, 0.0};
            int v = 0;
            for (; v + 4 <= nv; v += 4)
                for (int j = 0; j < 4; ++j) part[j] += static_cast<double>(x[v + j]) * static_cast<double>(x[v + j]);
            for (; v < nv; ++v) part[0] += static_cast<double>(x[v]) * static_cast<double>(x[v]);
            nx[r] = (part[0] + part[1]) + (part[2] + part[3]);
            plain[r] = !(std::sqrt(nx[r]) < 0x1p50) || !(s.norm_max < 0x1p50);
        }
        float* lows_here = e.lows ? e.lows + i0 * w : nullptr;
#ifdef KMEANS_VECTOR_KERNELS
        if (s.path == NearestPath::avx512) nearest_screen_avx512(bc, block, m, nvars, nx, cand, lows_here, rest);
        else if (s.path == NearestPath::avx2) nearest_screen_avx2(bc, block, m, nvars, nx, cand, lows_here, rest);
        else
#endif
            nearest_screen_portable(bc, block, m, nvars, nx, cand, lows_here, rest);
        // The candidates of each row (row, centre), in row and then centre
        // order.
        int count = 0, from[blocked_rows + 1];
        for (std::size_t r = 0; r < m; ++r) {
            from[r] = count;
            if (plain[r]) continue;
            const unsigned char* bits = cand + r * bytes;
            for (std::size_t b8 = 0; b8 < bytes; ++b8)
                for (unsigned mask = bits[b8]; mask != 0; mask &= mask - 1)
                    pair[count++] = static_cast<std::int16_t>(8 * b8 + static_cast<std::size_t>(__builtin_ctz(mask)));
        }
        from[m] = count;
        // Their exact sums, four at a time side by side (each in variable
        // order).
        int q = 0;
        for (std::size_t r = 0; r < m; ++r)
            for (int p = from[r]; p < from[r + 1]; ++p) row_of[p] = static_cast<std::uint8_t>(r);
        const std::size_t step = static_cast<std::size_t>(nvars);
        for (; q + 4 <= count; q += 4) {
            const float* x[4];
            const float* c[4];
            double acc[4] = {0.0, 0.0, 0.0, 0.0};
            for (int j = 0; j < 4; ++j) {
                x[j] = block + static_cast<std::size_t>(row_of[q + j]) * step;
                c[j] = s.crow.data() + static_cast<std::size_t>(pair[q + j]) * static_cast<std::size_t>(nv);
            }
            for (int v = 0; v < nv; ++v)
                for (int j = 0; j < 4; ++j) {
                    const double dv = static_cast<double>(x[j][v]) - static_cast<double>(c[j][v]);
                    acc[j] += dv * dv;
                }
            for (int j = 0; j < 4; ++j) sums[q + j] = static_cast<float>(acc[j]);
        }
        for (; q < count; ++q)
            sums[q] = euclid_sum(block + static_cast<std::size_t>(row_of[q]) * step,
                                s.crow.data() + static_cast<std::size_t>(pair[q]) * static_cast<std::size_t>(nv), nv);
        // Each row decided among its candidates in cluster order.
        for (std::size_t r = 0; r < m; ++r) {
            const std::size_t i = i0 + r;
            if (plain[r]) {
                plain_rows(s, block + r * step, 1, nvars, winner + i, best + i, extra_from(e, i, w));
                continue;
            }
            float dist = FLT_MAX, other = rest[r], won = 0.0f;
            int at = -1;
            for (int p = from[r]; p < from[r + 1]; ++p) {
                const float sum = sums[p];
                if (e.lows) e.lows[i * w + static_cast<std::size_t>(pair[p])] = sum;
                const float dk = static_cast<float>(std::sqrt(static_cast<double>(sum)));
                if (dk < dist) {
                    if (at >= 0 && won < other) other = won;
                    dist = dk;
                    at = pair[p];
                    won = sum;
                } else if (sum < other) {
                    other = sum;
                }
            }
            winner[i] = at >= 0 ? at : s.first;
            best[i] = dist;
            if (e.second) e.second[i] = at >= 0 ? other : 0.0f;
        }
    }
}

// The constants of the error bound of the screened search of short rows
// over `n` values. For a row x and a centre c let S = |x - c|^2 exactly. The
// search takes q, the same sum all in float: each difference is off by at
// most a factor (1 + u) (u = 2^-24), its square by one more, and each of
// the n - 1 sums by one more, so q = S (1 + t) with |t| <= gamma = (n + 2)
// u / (1 - (n + 2) u), save for squares below the normal floats, which add
// at most 2^-150 each: |q - S| <= gamma S + abs, abs = n 2^-148. So some
// centre j has S_j <= U = (min q + abs) / (1 - gamma). The winner w has a
// distance at most j's, so its float sum is at most the largest float of
// the same root as j's, at most j's times (1 + 2^-21); a float sum is
// S (1 +- (2^-24 + (n + 2) 2^-53)) (+- 2^-150), so S_w <= U (1 + tau) +
// 2^-140 with tau = 2^-20 + (n + 2) 2^-50, and every centre whose q may
// come from an S at or below that, q <= (U (1 + tau) + 2^-140) (1 +
// gamma) + abs, is measured exactly. Every other centre k has a float sum
// of at least (q - abs) / (1 + gamma) (1 - 2^-21 - (n + 2) 2^-52), which
// `low` (a float a little below that factor) gives for q of 2^-100 or more.
ShortCentres short_centres(const CentreSet& s) {
    const double n = static_cast<double>(s.nvars);
    const double gamma = (n + 2.0) * 0x1p-24 / (1.0 - (n + 2.0) * 0x1p-24);
    const double shrink = 1.0 - 0x1p-21 - (n + 2.0) * 0x1p-52;
    const float low = static_cast<float>(shrink / (1.0 + gamma) * (1.0 - 0x1p-21) * (1.0 - 0x1p-23));
    return ShortCentres{s.colsf.data(), s.crow.data(), s.nvars, s.width, s.first,
                        gamma, n * 0x1p-148, 0x1p-20 + (n + 2.0) * 0x1p-50, low};
}

// Rows of the screened search taken together by one kernel call.
constexpr std::size_t short_rows = 64;

// The screened search of short rows (see centres_block() in nearest.h), and
// what `e` asks for besides. Rows the kernel leaves (norms too large) take
// the plain search.
void search_short(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner, float* best,
                  Extra e) {
    assert(s.blocked && !s.cityblock && s.nvars < blocked_from && s.path != NearestPath::portable);
    const ShortCentres c = short_centres(s);
    const std::size_t w = static_cast<std::size_t>(s.width);
    unsigned char plain[short_rows];
    for (std::size_t i0 = 0; i0 < n; i0 += short_rows) {
        const std::size_t m = n - i0 < short_rows ? n - i0 : short_rows;
        const float* x = rows + i0 * static_cast<std::size_t>(nvars);
        const Extra here = extra_from(e, i0, w);
#ifdef KMEANS_VECTOR_KERNELS
        if (s.path == NearestPath::avx512)
            nearest_short_avx512(c, x, m, nvars, winner + i0, best + i0, here.lows, here.second, plain);
        else
            nearest_short_avx2(c, x, m, nvars, winner + i0, best + i0, here.lows, here.second, plain);
#endif
        for (std::size_t r = 0; r < m; ++r)
            if (plain[r])
                plain_rows(s, x + r * static_cast<std::size_t>(nvars), 1, nvars, winner + i0 + r, best + i0 + r,
                           extra_from(here, r, w));
    }
}

// Lays out the screened search of short rows (see centres_block()): the
// centres in float columns and row after row. Values of 2^60 or more would
// make the sums in float overflow for most rows: no screening then.
bool block_short(CentreSet& s, const Centres& c) {
    const std::size_t width = static_cast<std::size_t>(s.width), nv = static_cast<std::size_t>(s.nvars);
    s.colsf.assign(width * nv, std::numeric_limits<float>::quiet_NaN());
    s.crow.assign(width * nv, 0.0f);
    for (int k = 0; k < s.ncand; ++k) {
        if (!s.take[static_cast<std::size_t>(k)]) continue;
        const float* row = c.row(k);
        for (std::size_t v = 0; v < nv; ++v) {
            if (!(std::fabs(row[v]) < 0x1p60f)) return false;
            s.crow[static_cast<std::size_t>(k) * nv + v] = row[v];
            s.colsf[v * width + static_cast<std::size_t>(k)] = row[v];
        }
    }
    return true;
}

}  // namespace

bool centres_block(CentreSet& s, const Centres& c) {
    s.blocked = false;
    if (s.cityblock || s.path == NearestPath::portable || s.first < 0) return false;
    if (s.nvars < blocked_from) {
        if (s.ncand * s.nvars < short_min_cost) return false;
        assert(s.nvars <= c.nvars && s.ncand <= c.K && s.width <= max_clusters + 8);
        s.blocked = block_short(s, c);
        return s.blocked;
    }
    if (s.ncand < blocked_min_k) return false;
    assert(s.nvars <= c.nvars && s.ncand <= c.K && s.width <= max_clusters + 8);
    const std::size_t width = static_cast<std::size_t>(s.width), nv = static_cast<std::size_t>(s.nvars);
    s.colsf.resize(s.cols.size());
    for (std::size_t i = 0; i < s.cols.size(); ++i) s.colsf[i] = static_cast<float>(s.cols[i]);
    s.crow.assign(width * nv, 0.0f);
    s.norm2.assign(width, std::numeric_limits<double>::quiet_NaN());
    s.norm.assign(width, std::numeric_limits<double>::quiet_NaN());
    s.norm_max = 0.0;
    for (int k = 0; k < s.ncand; ++k) {
        if (!s.take[static_cast<std::size_t>(k)]) continue;
        const float* row = c.row(k);
        double n2 = 0.0;
        for (std::size_t v = 0; v < nv; ++v) {
            s.crow[static_cast<std::size_t>(k) * nv + v] = row[v];
            n2 += static_cast<double>(row[v]) * static_cast<double>(row[v]);
        }
        const double root = std::sqrt(n2);
        s.norm2[static_cast<std::size_t>(k)] = n2;
        s.norm[static_cast<std::size_t>(k)] = root;
        // A centre that is not finite: no row takes the blocked search.
        if (!(root <= s.norm_max)) s.norm_max = root == root ? root : std::numeric_limits<double>::infinity();
    }
    s.blocked = true;
    return true;
}

// The search of `n` rows by the set's layout, and what `e` asks for.
static void search_rows(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                        float* best, Extra e) {
    assert(s.nvars >= 0 && s.nvars <= nvars && nvars <= max_vars);
    assert(s.ncand <= s.width && s.width % 8 == 0 && s.cols.size() == static_cast<std::size_t>(s.width) * s.nvars);
    assert(nearest_path_runs(s.path));
    // The blocked searches and the sums kept work on room for max_clusters.
    assert(s.width <= max_clusters + 8 || (!s.blocked && !e.lows && !e.second));
    if (s.blocked && s.nvars < blocked_from) return search_short(s, rows, n, nvars, winner, best, e);
    if (s.blocked) return search_blocked(s, rows, n, nvars, winner, best, e);
    plain_rows(s, rows, n, nvars, winner, best, e);
}

void nearest_rows(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                  float* best) {
    search_rows(s, rows, n, nvars, winner, best, Extra{});
}

void nearest_rows_lows(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                       float* best, float* lows) {
    assert(reinterpret_cast<std::uintptr_t>(lows) % 32 == 0);
    search_rows(s, rows, n, nvars, winner, best, Extra{lows, nullptr});
}

void nearest_rows_second(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                         float* best, float* second) {
    search_rows(s, rows, n, nvars, winner, best, Extra{nullptr, second});
}

void sums_add(NearestPath path, float* sums, std::uint32_t* count, const float* rows, const std::int32_t* clustno,
              std::size_t n, int nvars, int v0, int v1) {
    assert(nearest_path_runs(path) && 0 <= v0 && v0 <= v1 && v1 <= nvars);
#ifdef KMEANS_VECTOR_KERNELS
    if (path == NearestPath::avx512) return sums_add_avx512(sums, count, rows, clustno, n, nvars, v0, v1);
    if (path == NearestPath::avx2) return sums_add_avx2(sums, count, rows, clustno, n, nvars, v0, v1);
#endif
    (void)path;
    sums_add_portable(sums, count, rows, clustno, n, nvars, v0, v1);
}

void nearest_block_sums(NearestPath path, const CentreColumns& cols, bool cityblock, const float* x,
                        const std::int32_t* blocks, int n, float* sums, float* mins) {
    assert(nearest_path_runs(path) && cols.width % 8 == 0);
#ifdef KMEANS_VECTOR_KERNELS
    if (path == NearestPath::avx512) return nearest_block_sums_avx512(cols, cityblock, x, blocks, n, sums, mins);
    if (path == NearestPath::avx2) return nearest_block_sums_avx2(cols, cityblock, x, blocks, n, sums, mins);
#endif
    (void)path;
    nearest_block_sums_portable(cols, cityblock, x, blocks, n, sums, mins);
}

void nearest_all_block_sums(NearestPath path, const CentreColumns& cols, bool cityblock, const float* rows,
                            std::size_t n, int nvars, float* sums, float* mins) {
    assert(nearest_path_runs(path) && cols.width % 8 == 0 && cols.nvars <= nvars);
#ifdef KMEANS_VECTOR_KERNELS
    if (path == NearestPath::avx512) return nearest_all_block_sums_avx512(cols, cityblock, rows, n, nvars, sums, mins);
    if (path == NearestPath::avx2) return nearest_all_block_sums_avx2(cols, cityblock, rows, n, nvars, sums, mins);
#endif
    (void)path;
    nearest_all_block_sums_portable(cols, cityblock, rows, n, nvars, sums, mins);
}

}  // namespace kmeans
