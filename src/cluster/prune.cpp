#include "cluster/prune.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

#include "cluster/distance.h"
#include "io/row_table.h"

namespace kmeans {

namespace {

constexpr double eta = 0x1p-70;       // the absolute error of a computed distance (prune.h)
constexpr double up = 1.0 + 0x1p-50;   // a product or sum of bounds rounded the safe way
constexpr double down = 1.0 - 0x1p-50;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr float inf_f = std::numeric_limits<float>::infinity();

// The relative error of a computed distance over `n` values (prune.h).
double rho(int n) { return 0x1p-23 + static_cast<double>(n) * 0x1p-52 + 0x1p-40; }

// An upper bound of the exact distance of `a` and `b` (`n` values): their
// terms summed in double in eight sums side by side (so that it
// vectorizes), each term and sum off by at most 2^-53 of itself, at most
// n / 8 + 8 steps in a chain: (n + 16) 2^-53 covers them, and 2^-53 more
// the root.
double exact_upper(const float* a, const float* b, int n, bool cityblock) {
    if (n < 16) {  // short rows: one sum in order costs less
        const double sum = spread_term(cityblock, a, b, n);
        return (cityblock ? sum : std::sqrt(sum)) * (1.0 + static_cast<double>(n + 18) * 0x1p-52) * up;
    }
    double acc[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    int v = 0;
    for (; v + 8 <= n; v += 8)
        for (int j = 0; j < 8; ++j) {
            const double d = static_cast<double>(a[v + j]) - static_cast<double>(b[v + j]);
            acc[j] += cityblock ? std::fabs(d) : d * d;
        }
    for (; v < n; ++v) {
        const double d = static_cast<double>(a[v]) - static_cast<double>(b[v]);
        acc[0] += cityblock ? std::fabs(d) : d * d;
    }
    const double sum = ((acc[0] + acc[1]) + (acc[2] + acc[3])) + ((acc[4] + acc[5]) + (acc[6] + acc[7]));
    const double dist = cityblock ? sum : std::sqrt(sum);
    return dist * (1.0 + static_cast<double>(n + 18) * 0x1p-52) * up;
}

// A lower bound of the exact distance of `a` and `b` (`n` values) by the
// argument of exact_upper(); 0 where it is not a number.
double exact_lower(const float* a, const float* b, int n, bool cityblock) {
    const double sum = spread_term(cityblock, a, b, n);  // one sum in order: n + 2 steps at most
    const double dist = (cityblock ? sum : std::sqrt(sum)) * (1.0 - static_cast<double>(n + 18) * 0x1p-52) * down;
    return dist >= 0.0 ? dist : 0.0;
}

// A bound not below `x` (not negative) as a float. A float conversion is
// off by at most 2^-24 of the value for the normal floats, which the factor
// more than covers; the bounds stored so are never below 2^-70.
float store_up(double x) { return static_cast<float>(x * (1.0 + 0x1p-22)); }

// A bound not above `x` (not negative) as a float, by the same argument;
// 0 for values where the float could be subnormal.
float store_down(double x) { return x < 0x1p-100 ? 0.0f : static_cast<float>(x * (1.0 - 0x1p-22)); }

// The upper bound of a winner's exact distance from its computed distance
// `dist`: d <= (D + eta) / (1 - rho) <= (D + eta) (1 + 2 rho) for rho < 1/2.
double upper_from(float dist, double r) {
    return dist >= FLT_MAX ? inf : (static_cast<double>(dist) + eta) * (1.0 + 2.0 * r) * up;
}

// The lower bound of a centre's exact distance from its computed float sum
// `sum` (0 for NaN; a sum that overflowed stands for at least FLT_MAX).
double lower_from(float sum, bool cityblock, double r) {
    double s = static_cast<double>(sum);
    if (!(s <= static_cast<double>(FLT_MAX))) s = s > 0.0 ? static_cast<double>(FLT_MAX) : 0.0;
    const double d = cityblock ? s : std::sqrt(s) * down;
    const double low = (d - eta) * (1.0 - 2.0 * r) * down;
    return low > 0.0 ? low : 0.0;
}

// A lower bound `l` shrunk by a move of at most `m` (floats; the result is
// at most l - m: the float difference is off by at most 2^-24 of itself,
// exact where it is subnormal, and the product never rounds above it).
inline float shrink(float l, float m) {
    const float d = (l - m) * (1.0f - 0x1p-22f);
    return d > 0.0f ? d : 0.0f;  // NaN (infinity less infinity) too
}

// An upper bound `u` grown by a move of at most `m` (the result is at least
// u + m; u is never below 2^-70).
inline float grow(float u, float m) { return (u + m) * (1.0f + 0x1p-22f); }

// The distance of a computed float sum.
float dist_of(float sum, bool cityblock) {
    return cityblock ? sum : static_cast<float>(std::sqrt(static_cast<double>(sum)));
}

// Cuts the clusters `ids` (n of them) of `c` into groups of at most `size`
// positions, each group a set of centres close to each other, by halving
// at the median of the value of widest spread until a part fits a group
// (the left part a whole number of groups). Group g takes the positions
// g * size.. in `order`, its clusters in ascending order, -1 after them.
void split(const Centres& c, int* ids, int n, int size, std::int32_t* order, int& g) {
    if (n <= size) {
        std::sort(ids, ids + n);
        std::int32_t* at = order + static_cast<std::size_t>(g) * static_cast<std::size_t>(size);
        for (int i = 0; i < size; ++i) at[i] = i < n ? ids[i] : -1;
        ++g;
        return;
    }
    int widest = 0;
    double spread = -1.0;
    for (int v = 0; v < c.nvars; ++v) {
        double lo = inf, hi = -inf;
        for (int i = 0; i < n; ++i) {
            const double x = c.row(ids[i])[v];
            if (!std::isfinite(x)) continue;
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
        if (hi - lo > spread) {
            spread = hi - lo;
            widest = v;
        }
    }
    // Values that are not finite last; ties by cluster, so that the cut is
    // the same on every machine.
    auto key = [&](int k) {
        const float x = c.row(k)[widest];
        return std::isfinite(x) ? x : inf_f;
    };
    std::sort(ids, ids + n, [&](int a, int b) { return key(a) < key(b) || (key(a) == key(b) && a < b); });
    const int left = size * ((n + 2 * size - 1) / (2 * size));
    split(c, ids, left, size, order, g);
    split(c, ids + left, n - left, size, order, g);
}

// The groups of the centres `c` (see split()), and what each block of 8
// positions holds.
void form_groups(PruneBounds& b, const Centres& c) {
    std::vector<int> ids(static_cast<std::size_t>(b.K));
    std::iota(ids.begin(), ids.end(), 0);
    b.order.assign(static_cast<std::size_t>(b.groups) * static_cast<std::size_t>(b.group_size), -1);
    int g = 0;
    split(c, ids.data(), b.K, b.group_size, b.order.data(), g);
    assert(g == b.groups);
    b.block_members.assign(b.order.size() / 8, 0);
    for (std::size_t p = 0; p < b.order.size(); ++p) {
        if (b.order[p] < 0) continue;
        b.group_of[static_cast<std::size_t>(b.order[p])] = static_cast<std::int32_t>(p) / b.group_size;
        ++b.block_members[p / 8];
    }
}

// Each centre's neighbourhood (PruneBounds::hood_ids) from the centres `c`
// of the pass: itself, then the others by their least distance from it.
void form_hoods(PruneBounds& b, const Centres& c) {
    constexpr int H = prune_hood;
    const std::size_t K = static_cast<std::size_t>(b.K), nv = static_cast<std::size_t>(b.nvars);
    b.hood_ids.assign(K * H, -1);
    b.hood_dist.assign(K * (H + 1), inf_f);
    b.hood_cols.assign(K * H * nv, std::numeric_limits<double>::quiet_NaN());
    std::vector<float> dist(K);
    std::vector<std::int32_t> by(K);
    const std::size_t take = std::min<std::size_t>(K, H + 1);
    for (std::size_t a = 0; a < K; ++a) {
        for (std::size_t k = 0; k < K; ++k)
            dist[k] = k == a ? 0.0f : store_down(exact_lower(c.row(static_cast<int>(a)), c.row(static_cast<int>(k)),
                                                            b.nvars, b.cityblock));
        std::iota(by.begin(), by.end(), 0);
        const std::int32_t self = static_cast<std::int32_t>(a);
        std::partial_sort(by.begin(), by.begin() + static_cast<std::ptrdiff_t>(take), by.end(),
                          [&](std::int32_t i, std::int32_t j) {
                              if ((i == self) != (j == self)) return i == self;
                              const float di = dist[static_cast<std::size_t>(i)], dj = dist[static_cast<std::size_t>(j)];
                              return di < dj || (di == dj && i < j);
                          });
        std::int32_t* ids = b.hood_ids.data() + a * H;
        float* near = b.hood_dist.data() + a * (H + 1);
        double* cols = b.hood_cols.data() + a * H * nv;
        for (std::size_t p = 0; p < take; ++p) {
            const std::int32_t k = by[p];
            near[p] = dist[static_cast<std::size_t>(k)];
            if (p == H) break;
            ids[p] = k;
            for (std::size_t v = 0; v < nv; ++v) cols[v * H + p] = static_cast<double>(c.row(k)[v]);
        }
    }
}

// The columns of the groups of `b` as the kernels read them.
CentreColumns group_columns(const PruneBounds& b) {
    return CentreColumns{b.cols.data(), b.nvars, static_cast<int>(b.order.size()), -1};
}

// A 32-byte aligned pointer into `room` to at least `n` floats.
float* aligned(std::vector<float>& room, std::size_t n) {
    if (room.size() < n + 8) room.resize(n + 8);
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(room.data());
    return room.data() + ((32 - at % 32) % 32) / sizeof(float);
}

// `x` (not negative) as a float not below it; infinity from FLT_MAX on.
float float_up(double x) {
    if (!(x < static_cast<double>(FLT_MAX))) return inf_f;
    const float f = static_cast<float>(x);
    // One step up where the conversion went down, without a branch.
    const std::uint32_t step = static_cast<double>(f) < x ? 1u : 0u;
    return std::bit_cast<float>(std::bit_cast<std::uint32_t>(f) + step);
}

// The float lower bound above which a group is clear, as a straight line
// of a bound u of the winner's exact distance: a centre j at an exact
// distance of at least l has a computed distance D(j) >= l (1 - rho) - eta
// (prune.h), the winner one of at most u (1 + rho) + eta, so a group is
// clear when l > (u (1 + rho) + 2 eta) / (1 - rho): u * a + b below, each
// factor a little above its exact value, so that the result in double is
// never below the exact line.
struct Thresholds {
    double a, b;
};

Thresholds thresholds(double r) {
    const double over = (1.0 + 0x1p-40) / (1.0 - r);
    return Thresholds{(1.0 + r) * over, 2.0 * eta * over};
}

// What a search among some blocks of a row's groups decided.
struct Decision {
    int winner = -1;     // the cluster, -1 when no distance lies below the largest finite float
    float dist = 0.0f;   // its distance
    int block = -1;      // the measured block (index into the list) and lane that hold it
    int lane = -1;
};

// Decides among the `n` measured blocks (block i: the 8 clusters at ids(i),
// -1 for none, their sums at sums + 8 i and smallest at mins[i]): the smallest
// distance and the lowest cluster of that distance, as the search that
// measures every centre decides among them.
template <class Ids>
Decision decide(const PruneBounds& b, const float* sums, const float* mins, int n, Ids ids) {
    float low = inf_f;
    for (int i = 0; i < n; ++i) low = mins[i] < low ? mins[i] : low;
    Decision d;
    d.dist = dist_of(low, b.cityblock);
    if (!(d.dist < FLT_MAX)) return d;
    // Euclidean: the sums below the cut of the distance share it; Cityblock:
    // the sums equal to the smallest.
    const float cut = b.cityblock ? std::nextafter(low, inf_f) : euclid_cut(d.dist);
    std::int32_t lowest = std::numeric_limits<std::int32_t>::max();
    for (int i = 0; i < n; ++i) {
        if (!(mins[i] < cut)) continue;
        const std::int32_t* at = ids(i);
        for (int j = 0; j < 8; ++j) {  // without a branch on the sums
            const bool take = (sums[8 * i + j] < cut) & (at[j] < lowest);
            lowest = take ? at[j] : lowest;
            d.block = take ? i : d.block;
            d.lane = take ? j : d.lane;
        }
    }
    d.winner = d.block >= 0 ? lowest : -1;
    return d;
}

// The clusters of measured block q in the group layout, block blk(q) of
// b.order: the `ids` of decide().
template <class Blk>
auto order_ids(const PruneBounds& b, Blk blk) {
    return [&b, blk](int q) { return b.order.data() + 8 * static_cast<std::size_t>(blk(q)); };
}

// The lower bounds of the groups whose blocks were all measured (`n`
// blocks, a group's blocks one after the other), from their sums and the
// decision `d`: the smallest sum of each group but the winner's.
template <class Blk>
void renew_groups(PruneBounds& b, float* lower, const float* sums, const float* mins, int n, Blk blk,
                  const Decision& d, double r) {
    const int per = b.group_size / 8;
    for (int i = 0; i < n; i += per) {
        float l = inf_f;
        int others = 0;  // centres of the group but the winner
        for (int q = i; q < i + per; ++q) {
            const int k = blk(q);
            others += b.block_members[static_cast<std::size_t>(k)];
            if (q != d.block) {
                l = mins[q] < l ? mins[q] : l;
                continue;
            }
            --others;
            const std::int32_t* at = b.order.data() + 8 * static_cast<std::size_t>(k);
            for (int j = 0; j < 8; ++j)
                if (j != d.lane && at[j] >= 0) l = sums[8 * q + j] < l ? sums[8 * q + j] : l;
        }
        lower[blk(i) / per] = others > 0 ? store_down(lower_from(l, b.cityblock, r)) : inf_f;
    }
}

// The smallest of the G group bounds of a row: its bound to every centre but
// its winner.
float least_of(const float* lower, int G) {
    float l = inf_f;
    for (int g = 0; g < G; ++g) l = lower[g] < l ? lower[g] : l;
    return l;
}

// No winner below the start of the search (every centre measured): the
// search keeps the lowest cluster, and no bound holds.
void no_winner(PruneBounds& b, std::size_t row, std::int32_t* clustno) {
    clustno[row] = 0;
    b.upper[row] = inf_f;
    b.lower[row] = 0.0f;
    if (b.groups > 1) {
        std::fill_n(b.group_lower.begin() + static_cast<std::ptrdiff_t>(row) * b.groups, b.groups, 0.0f);
        b.stamp[row] = b.pass;
    }
}

// Searches the `count` rows at `x` (nvars values each) in full, row j being
// row at(j) of the file: its winner into clustno, its bounds set from the
// sums of the search. Without groups the search gives the smallest sum of
// the other centres; rows the blocked search takes are searched in cluster
// order and their sums found in the groups; with groups the others are
// searched group by group.
template <class At>
void search_rows(PruneBounds& b, PruneScratch& w, const CentreSet& s, const float* x, std::size_t count, At at,
                 std::int32_t* clustno, double r) {
    const int G = b.groups;
    const std::size_t size = static_cast<std::size_t>(b.group_size), blocks = b.order.size() / 8;
    w.searched += static_cast<std::int64_t>(count * blocks);
    if (G == 1) {  // the smallest sum of the other centres is all it takes
        float* second = w.mins.data();
        nearest_rows_second(s, x, count, b.nvars, w.winner.data(), w.best.data(), second);
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t row = at(j);
            if (!(w.best[j] < FLT_MAX)) {
                no_winner(b, row, clustno);
                continue;
            }
            clustno[row] = w.winner[j];
            b.upper[row] = store_up(upper_from(w.best[j], r));
            b.lower[row] = store_down(lower_from(second[j], b.cityblock, r));
        }
        return;
    }
    const std::size_t width = std::max(b.order.size(), static_cast<std::size_t>(s.width));
    float* sums = aligned(w.room, prune_batch * width);
    if (!s.blocked) {
        float* mins = w.mins.data();
        nearest_all_block_sums(b.path, group_columns(b), b.cityblock, x, count, b.nvars, sums, mins);
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t row = at(j);
            const float* sum = sums + j * b.order.size();
            const float* least = mins + j * blocks;
            auto blk = [](int q) { return q; };
            const Decision d = decide(b, sum, least, static_cast<int>(blocks), order_ids(b, blk));
            if (d.winner < 0) {
                no_winner(b, row, clustno);
                continue;
            }
            float* lower = b.group_lower.data() + row * static_cast<std::size_t>(G);
            clustno[row] = d.winner;
            b.upper[row] = store_up(upper_from(d.dist, r));
            renew_groups(b, lower, sum, least, static_cast<int>(blocks), blk, d, r);
            b.lower[row] = least_of(lower, G);
            b.stamp[row] = b.pass;
        }
        return;
    }
    nearest_rows_lows(s, x, count, b.nvars, w.winner.data(), w.best.data(), sums);
    for (std::size_t j = 0; j < count; ++j) {
        const std::size_t row = at(j);
        const int a = w.winner[j];
        if (!(w.best[j] < FLT_MAX)) {
            no_winner(b, row, clustno);
            continue;
        }
        clustno[row] = a;
        b.upper[row] = store_up(upper_from(w.best[j], r));
        const float* sum = sums + j * static_cast<std::size_t>(s.width);
        float* lower = b.group_lower.data() + row * static_cast<std::size_t>(G);
        for (std::size_t g = 0; g < static_cast<std::size_t>(G); ++g) {
            float least = inf_f;
            bool any = false;  // another centre in the group
            for (std::size_t p = g * size; p < (g + 1) * size; ++p) {
                const int k = b.order[p];
                if (k < 0 || k == a) continue;
                any = true;
                least = sum[k] < least ? sum[k] : least;
            }
            lower[g] = any ? store_down(lower_from(least, b.cityblock, r)) : inf_f;
        }
        b.lower[row] = least_of(lower, G);
        b.stamp[row] = b.pass;
    }
}

// The group bounds of row `row` brought to this pass: each taken down by the
// largest moves in its group in the passes since its stamp (the difference
// of two sums of the drift table, each sum not below the moves in it, the
// difference rounded up).
void bring_groups(PruneBounds& b, std::size_t row, float* lower) {
    const std::size_t G = static_cast<std::size_t>(b.groups);
    const std::uint32_t then = b.stamp[row];
    if (then == b.pass) return;
    const double* now_sum = b.drift.data() + static_cast<std::size_t>(b.pass) * G;
    const double* then_sum = b.drift.data() + static_cast<std::size_t>(then) * G;
    for (std::size_t g = 0; g < G; ++g) lower[g] = shrink(lower[g], float_up((now_sum[g] - then_sum[g]) * up));
    b.stamp[row] = b.pass;
}

// The rows of a pruned pass whose bounds are checked together.
constexpr std::int64_t prune_chunk = 256;

// The bounds of the `n` rows first.. of a pruned pass brought to this pass
// (the winner's bound grown by its move, the other bound shrunk by the
// largest move of another centre) and stored; the rows (0..n-1) whose
// bounds are not clear listed in `open`, which holds n. Returns how many.
// Without a branch on the bounds: about half the rows of a pass go either
// way, in no order a branch predictor could learn.
std::size_t open_rows(PruneBounds& b, const Thresholds& t, std::size_t first, std::size_t n,
                      const std::int32_t* clustno, std::uint32_t* open) {
    const float top = b.move_top, next = b.move_next;
    const int at = b.move_at;
    float* upper = b.upper.data() + first;
    float* lower = b.lower.data() + first;
    const std::int32_t* won = clustno + first;
    std::size_t m = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const int a = won[j];
        assert(a >= 0 && a < b.K);
        const float u = grow(upper[j], b.move_up[static_cast<std::size_t>(a)]);
        const float l = shrink(lower[j], a == at ? next : top);
        upper[j] = u;
        lower[j] = l;
        open[m] = static_cast<std::uint32_t>(j);
        m += l > float_up(static_cast<double>(u) * t.a + t.b) ? 0u : 1u;
    }
    return m;
}

// The rows listed in `open` (m of them, 0.. from row `first`, at `rows`)
// of a pruned pass without groups that settle_rows() left open (`ua`,
// `need` from there): each measures its winner a's neighbourhood up to the
// last centre that the test between centres does not clear, and is decided
// among those as the plain search decides; its bounds renewed from their
// sums and the least distance from a of the centres not measured. The rows
// to be searched in full instead (a centre beyond the neighbourhood not
// clear, or no distance below the largest float) listed in `open` again.
// Each step runs over all rows before the next, so that the rows' chains
// of operations overlap. Returns how many are listed.
std::size_t near_rows(PruneBounds& b, PruneScratch& w, const float* rows, std::size_t first, std::uint32_t* open,
                      std::size_t m, const double* ua, const float* need, std::int32_t* clustno, double r) {
    constexpr int H = prune_hood;
    static_assert(H == 32);
    static constexpr std::int32_t first_blocks[H / 8] = {0, 1, 2, 3};
    if (b.hood_ids.empty()) return m;
    assert(m <= static_cast<std::size_t>(prune_chunk));
    const std::size_t stride = static_cast<std::size_t>(b.nvars);
    std::uint8_t nb[prune_chunk];
    float low[prune_chunk];
    // The blocks of the neighbourhood each row measures (0: none, searched
    // in full): every centre j with d(a, j) > reach has
    // d(x, j) >= d(a, j) - ua > need.
    for (std::size_t q = 0; q < m; ++q) {
        const std::size_t row = first + open[q];
        const float* near = b.hood_dist.data() + static_cast<std::size_t>(clustno[row]) * (H + 1);
        const float reach = float_up((static_cast<double>(need[q]) + ua[q]) * up);
        int count = 0;  // the first of the neighbourhood (near[] ascends)
        for (int p = 0; p < H; ++p) count += near[p] > reach ? 0 : 1;
        nb[q] = near[H] > reach ? static_cast<std::uint8_t>((count + 7) / 8) : 0;
    }
    float* all = aligned(w.room, static_cast<std::size_t>(prune_chunk) * H);
    float* mins = w.mins.data();
    for (std::size_t q = 0; q < m; ++q) {
        if (nb[q] == 0) continue;
        const std::size_t a = static_cast<std::size_t>(clustno[first + open[q]]);
        const CentreColumns cols{b.hood_cols.data() + a * H * stride, b.nvars, H, -1};
        nearest_block_sums(b.path, cols, b.cityblock, rows + open[q] * stride, first_blocks, nb[q], all + q * H,
                           mins + q * (H / 8));
        w.searched += nb[q];
        const float* least = mins + q * (H / 8);
        low[q] = *std::min_element(least, least + nb[q]);  // no NaN: infinity for a block of none
    }
    std::size_t full = 0;
    constexpr std::int32_t none = std::numeric_limits<std::int32_t>::max();
    for (std::size_t q = 0; q < m; ++q) {
        const std::uint32_t i = open[q];
        open[full] = i;
        const float dist = dist_of(low[q], b.cityblock);
        if (nb[q] == 0 || !(dist < FLT_MAX)) {  // the full search decides a row without a winner
            ++full;
            continue;
        }
        // Decided as decide() does, in two passes over the lanes without a
        // branch: the lowest cluster of the smallest distance, then the
        // smallest sum of the others (a neighbourhood's clusters are distinct).
        const std::size_t row = first + i;
        const std::size_t a = static_cast<std::size_t>(clustno[row]);
        const float* sums = all + q * H;
        const std::int32_t* ids = b.hood_ids.data() + a * H;
        const int lanes = 8 * nb[q];
        const float cut = b.cityblock ? std::nextafter(low[q], inf_f) : euclid_cut(dist);
        std::int32_t won = none;
        for (int j = 0; j < lanes; ++j) {
            const std::int32_t k = sums[j] < cut ? ids[j] : none;
            won = k < won ? k : won;
        }
        assert(won != none && won >= 0);
        float least = inf_f;
        for (int j = 0; j < lanes; ++j) {
            const float v = (ids[j] >= 0) & (ids[j] != won) ? sums[j] : inf_f;
            least = v < least ? v : least;
        }
        clustno[row] = won;
        b.upper[row] = store_up(upper_from(dist, r));
        // The other centres: those measured by their sums, the rest by the
        // triangle inequality.
        const int others = std::min(lanes, b.K) - 1;  // a neighbourhood's clusters come first
        const float measured = others > 0 ? store_down(lower_from(least, b.cityblock, r)) : inf_f;
        const float beyond = b.hood_dist[a * (H + 1) + static_cast<std::size_t>(lanes < H ? lanes : H)];
        const float cleared = beyond < inf_f ? store_down((static_cast<double>(beyond) - ua[q]) * down) : inf_f;
        b.lower[row] = measured < cleared ? measured : cleared;
    }
    return full;
}

// The rows listed in `open` (m of them, 0.. from row `first`, at `rows`)
// whose bounds, brought to this pass by open_rows(), are not clear: the
// distance to the winner bounded again from its terms (upper set), and the
// rows still not settled listed in `open` again, with that bound in `ua`
// and the float above which a lower bound is then clear in `need`. Without
// a branch on the bounds. Returns how many.
std::size_t settle_rows(PruneBounds& b, const Centres& c, const Thresholds& t, const float* rows, std::size_t first,
                        std::uint32_t* open, std::size_t m, double* ua, float* need, const std::int32_t* clustno) {
    const std::size_t stride = static_cast<std::size_t>(b.nvars);
    std::size_t kept = 0;
    for (std::size_t q = 0; q < m; ++q) {
        const std::uint32_t i = open[q];
        const std::size_t row = first + i;
        const double u = exact_upper(rows + i * stride, c.row(clustno[row]), b.nvars, b.cityblock);
        const float n = float_up(u * t.a + t.b);  // NaN: infinity
        const bool clear = b.lower[row] > n;
        const float up_row = store_up(u);
        b.upper[row] = clear ? up_row : b.upper[row];
        open[kept] = i;
        ua[kept] = u;
        need[kept] = n;
        kept += clear ? 0 : 1;
    }
    return kept;
}

// One row `x` of a pruned pass (row number `row`, winner clustno[row]) that
// settle_rows() left open (`ua`, `need` from there): searched among the
// centres whose bounds are not clear. Returns true, with nothing decided,
// for a row to be searched in full: without groups, with most groups not
// clear (prune_block gathers those), or the neighbourhood not enough.
bool prune_row(PruneBounds& b, PruneScratch& w, const float* x, std::size_t row, std::int32_t* clustno,
               double ua, float need, double r) {
    const int a = clustno[row];
    const int G = b.groups;
    assert(G > 1);
    // The groups: those not clear, and a's own, are measured.
    float* lower = b.group_lower.data() + row * static_cast<std::size_t>(G);
    bring_groups(b, row, lower);
    const int per = b.group_size / 8;
    const int ga = b.group_of[static_cast<std::size_t>(a)];
    int nb = 0;
    std::int32_t* list = w.blocks.data();
    for (int g = 0; g < G; ++g) {  // without a branch on the bounds
        for (int j = 0; j < per; ++j) list[nb + j] = g * per + j;
        nb += lower[g] > need && g != ga ? 0 : per;
    }
    if (nb == per && lower[ga] > need) {
        b.upper[row] = store_up(ua);
        b.lower[row] = least_of(lower, G);
        return false;
    }
    // Most groups not clear: the full search of many rows at once costs less.
    if (nb * 4 > G * per * 3) return true;
    float* sums = aligned(w.room, static_cast<std::size_t>(nb) * 8);
    nearest_block_sums(b.path, group_columns(b), b.cityblock, x, list, nb, sums, w.mins.data());
    w.searched += nb;
    auto blk = [&](int q) { return list[q]; };
    const Decision d = decide(b, sums, w.mins.data(), nb, order_ids(b, blk));
    if (d.winner < 0) {
        assert(nb == G * per);
        no_winner(b, row, clustno);
        return false;
    }
    clustno[row] = d.winner;
    b.upper[row] = store_up(upper_from(d.dist, r));
    renew_groups(b, lower, sums, w.mins.data(), nb, blk, d, r);
    b.lower[row] = least_of(lower, G);
    return false;
}

}  // namespace

std::uint64_t prune_bytes(std::int64_t rows, int groups) {
    const std::uint64_t per_row = groups > 1 ? 3u + static_cast<std::uint64_t>(groups) : 2u;
    return static_cast<std::uint64_t>(rows) * per_row * 4u;
}

void prune_start(PruneBounds& b, std::vector<PruneScratch>& scratch, const Resources& r, const DataFile& data,
                 int K, bool cityblock) {
    b = PruneBounds{};
    b.cityblock = cityblock;
    b.nvars = data.nvars;
    b.K = K;
    b.path = nearest_path_for(r.kernel, K, data.nvars);
    const std::uint64_t budget = table_budget(r);
    const std::uint64_t kept = rows_in_memory(data) ? data.table.capacity * sizeof(float) : 0;
    if (!r.prune || data.N <= 0 || kept > budget) return;
    // Groups of prune_group centres, or fewer larger ones where the budget
    // asks for it; none where a full search costs little.
    const int all = (K + 7) / 8 * 8;
    const bool cut = static_cast<std::int64_t>(K) * data.nvars >= prune_groups_from;
    for (b.group_size = cut ? prune_group : all;; b.group_size = std::min(2 * b.group_size, all)) {
        b.groups = (K + b.group_size - 1) / b.group_size;
        if (prune_bytes(data.N, b.groups) <= budget - kept) break;
        if (b.groups == 1) return;
    }
    b.on = true;
    const std::size_t N = static_cast<std::size_t>(data.N), G = static_cast<std::size_t>(b.groups);
    b.upper.assign(N, inf_f);
    b.lower.assign(N, 0.0f);
    if (G > 1) {
        b.group_lower.assign(N * G, 0.0f);
        b.stamp.assign(N, 0u);
    }
    b.move.assign(static_cast<std::size_t>(K), 0.0);
    b.move_up.assign(static_cast<std::size_t>(K), 0.0f);
    b.group_move.assign(G, 0.0f);
    b.group_of.assign(static_cast<std::size_t>(K), 0);
    scratch.resize(static_cast<std::size_t>(data.workers->threads));
    const std::size_t positions = G * static_cast<std::size_t>(b.group_size);
    for (PruneScratch& w : scratch) {
        // (near_rows(): prune_chunk rows of a neighbourhood each.)
        const std::size_t hoods = G == 1 ? static_cast<std::size_t>(prune_chunk) * prune_hood : 0;
        w.room.assign(std::max(prune_batch * (std::max<std::size_t>(static_cast<std::size_t>(K) + 8, positions)), hoods) + 8,
                      0.0f);
        w.mins.resize(std::max(prune_batch * (positions / 8), hoods / 8));
        w.winner.resize(prune_batch);
        w.best.resize(prune_batch);
        w.blocks.resize(positions / 8);
        w.batch.resize(prune_batch * static_cast<std::size_t>(b.nvars));
        w.at.resize(prune_batch);
    }
}

void prune_pass(PruneBounds& b, const Centres& c) {
    assert(b.on && c.K == b.K && c.nvars == b.nvars);
    if (!b.ready) {
        // Every row searched in full: the drift table starts again.
        form_groups(b, c);
        b.pass = 0;
        b.drift.assign(static_cast<std::size_t>(b.groups), 0.0);
    }
    const std::size_t width = b.order.size();
    // (With two blocks of centres or fewer a full search measures as few.)
    if (b.groups == 1 && b.K <= prune_hood_most && width > 16) form_hoods(b, c);
    b.cols.resize(width * static_cast<std::size_t>(b.nvars));
    for (int v = 0; v < b.nvars; ++v) {
        double* col = b.cols.data() + static_cast<std::size_t>(v) * width;
        for (std::size_t p = 0; p < width; ++p) {
            const int k = b.order[p];
            col[p] = k >= 0 ? static_cast<double>(c.row(k)[v]) : std::numeric_limits<double>::quiet_NaN();
        }
    }
}

void prune_block(PruneBounds& b, PruneScratch& w, const CentreSet& s, const Centres& c, const float* rows,
                 std::int64_t first, std::int64_t n, std::int32_t* clustno) {
    assert(b.on && s.nvars == b.nvars && c.nvars == b.nvars && s.ncand == b.K && s.first == 0);
    assert(b.cols.size() == b.order.size() * static_cast<std::size_t>(b.nvars));
    const double r = rho(b.nvars);
    const std::size_t stride = static_cast<std::size_t>(b.nvars);
    if (!b.ready) {
        for (std::int64_t i = 0; i < n; i += prune_batch) {
            const std::size_t count = static_cast<std::size_t>(n - i < prune_batch ? n - i : prune_batch);
            const std::size_t base = static_cast<std::size_t>(first + i);
            search_rows(b, w, s, rows + static_cast<std::size_t>(i) * stride, count,
                        [base](std::size_t j) { return base + j; }, clustno, r);
        }
        return;
    }
    const Thresholds t = thresholds(r);
    // The rows that must be searched in full, gathered and searched together.
    std::size_t pending = 0;
    auto search = [&] {
        search_rows(b, w, s, w.batch.data(), pending, [&](std::size_t j) { return w.at[j]; }, clustno, r);
        pending = 0;
    };
    auto gather = [&](const float* x, std::size_t row) {
        std::memcpy(w.batch.data() + pending * stride, x, stride * sizeof(float));
        w.at[pending] = row;
        if (++pending == prune_batch) search();
    };
    std::uint32_t open[prune_chunk];
    double ua[prune_chunk];
    float need[prune_chunk];
    for (std::int64_t i0 = 0; i0 < n; i0 += prune_chunk) {
        const std::size_t count = static_cast<std::size_t>(n - i0 < prune_chunk ? n - i0 : prune_chunk);
        const std::size_t start = static_cast<std::size_t>(first + i0);
        const float* at = rows + static_cast<std::size_t>(i0) * stride;
        std::size_t m = open_rows(b, t, start, count, clustno, open);
        m = settle_rows(b, c, t, at, start, open, m, ua, need, clustno);
        if (b.groups == 1) {
            m = near_rows(b, w, at, start, open, m, ua, need, clustno, r);
            for (std::size_t q = 0; q < m; ++q) gather(at + open[q] * stride, start + open[q]);
            continue;
        }
        for (std::size_t q = 0; q < m; ++q) {
            const float* x = at + open[q] * stride;
            if (prune_row(b, w, x, start + open[q], clustno, ua[q], need[q], r)) gather(x, start + open[q]);
        }
    }
    if (pending > 0) search();
}

std::size_t prune_row_cost(const PruneBounds& b, int K, int nvars) {
    const double full = static_cast<double>(K) * static_cast<double>(nvars);
    if (!b.on || !b.ready) return static_cast<std::size_t>(full);
    return static_cast<std::size_t>(full * b.share) + 8u * static_cast<std::size_t>(nvars);
}

void prune_moved(PruneBounds& b, const Centres& before, const Centres& after, std::int64_t searched) {
    assert(b.on && before.K == after.K && before.nvars == b.nvars && after.nvars == b.nvars);
    std::fill(b.group_move.begin(), b.group_move.end(), 0.0f);
    b.move_top = b.move_next = 0.0f;
    b.move_at = -1;
    for (int k = 0; k < after.K; ++k) {
        double m = exact_upper(before.row(k), after.row(k), b.nvars, b.cityblock);
        if (!(m >= 0.0)) m = inf;  // a centre that is not finite: no bound holds
        const std::size_t at = static_cast<std::size_t>(k);
        b.move[at] = m;
        const float mu = m == 0.0 ? 0.0f : store_up(std::max(m, 0x1p-100));
        b.move_up[at] = mu;
        float& g = b.group_move[static_cast<std::size_t>(b.group_of[at])];
        g = std::max(g, mu);
        if (mu > b.move_top) {
            b.move_next = b.move_top;
            b.move_top = mu;
            b.move_at = k;
        } else if (mu > b.move_next) {
            b.move_next = mu;
        }
    }
    // The drift table for the next pass: each sum not below the one before
    // it plus the moves.
    const std::size_t G = static_cast<std::size_t>(b.groups);
    if (G > 1) {
        b.drift.resize(b.drift.size() + G);
        double* next = b.drift.data() + static_cast<std::size_t>(b.pass + 1) * G;
        for (std::size_t g = 0; g < G; ++g) next[g] = (next[g - G] + static_cast<double>(b.group_move[g])) * up;
    }
    ++b.pass;
    // A long run of pruned passes: a pass that searches all starts the drift
    // table again before it grows large.
    if (G > 1 && b.pass >= prune_drift_passes) b.full_left = 1;
    // With groups a row whose groups are mostly not clear takes the full
    // search (prune_row), so a pass that prunes little costs about what a
    // full pass does, and the next pass is pruned all the same.
    const std::uint64_t full = b.upper.size() * (b.order.size() / 8);
    b.share = full > 0 ? std::min(1.0, static_cast<double>(searched) / static_cast<double>(full)) : 1.0;
    if (b.ready && b.groups == 1) {  // a pruned pass
        const bool paid = static_cast<std::uint64_t>(searched) * 4u <= full * 3u;
        b.full_left = paid ? 0 : b.backoff;
        b.backoff = paid ? 1 : (b.backoff * 2 < 8 ? b.backoff * 2 : 8);
    }
    b.ready = b.full_left == 0;
    if (!b.ready) --b.full_left;
}

}  // namespace kmeans
