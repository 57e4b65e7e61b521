#include "cluster/prune.h"

#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "cluster/distance.h"
#include "io/row_table.h"

namespace kmeans {

namespace {

constexpr double eta = 0x1p-70;       // the absolute error of a computed distance (prune.h)
constexpr double up = 1.0 + 0x1p-50;   // a product or sum of bounds rounded the safe way
constexpr double down = 1.0 - 0x1p-50;
constexpr double inf = std::numeric_limits<double>::infinity();

// The relative error of a computed distance over `n` values (prune.h).
double rho(int n) { return 0x1p-23 + static_cast<double>(n) * 0x1p-52 + 0x1p-40; }

// The relative error of a distance taken in double with no rounding to
// float: (n + 2) steps of the sum and one of the root.
double rho_double(int n) { return static_cast<double>(n + 4) * 0x1p-52; }

// An upper bound of the exact distance of `a` and `b` (`n` values), from
// their differences summed in double.
double exact_upper(const float* a, const float* b, int n, bool cityblock) {
    const double sum = spread_term(cityblock, a, b, n);
    const double dist = cityblock ? sum : std::sqrt(sum);
    return dist * (1.0 + rho_double(n)) * up;
}

// Whether a row with bounds `u` and `l` keeps its winner: the largest
// computed distance to the winner lies strictly below the smallest computed
// distance to any other centre and below the largest finite float.
bool clear(double u, double l, double r) {
    const double most = (u * (1.0 + r) * up + eta) * up;
    const double least = (l * (1.0 - r) * down - eta) * down;
    return most < least && most < static_cast<double>(FLT_MAX);
}

// The bounds of a row from its full search: the winner's distance `best`
// and the smallest sum `second` of the other centres.
void renew(double& u, double& l, float best, float second, bool cityblock, double r) {
    // d <= (D + eta) / (1 - rho) <= (D + eta) (1 + 2 rho) for rho < 1/2.
    u = best >= FLT_MAX ? inf : (static_cast<double>(best) + eta) * (1.0 + 2.0 * r) * up;
    // A float sum that overflowed stands for at least FLT_MAX.
    double s = static_cast<double>(second);
    if (!(s <= static_cast<double>(FLT_MAX))) s = s > 0.0 ? static_cast<double>(FLT_MAX) : 0.0;  // NaN: 0
    const double d = cityblock ? s : std::sqrt(s) * down;
    const double low = (d - eta) * (1.0 - 2.0 * r) * down;
    l = low > 0.0 ? low : 0.0;
}

// Searches the `count` rows at `rows` (nvars values each) in full, row i
// being row at(i) of the file: its winner into clustno, its bounds renewed.
template <class At>
void search_renew(PruneBounds& b, PruneScratch& w, const CentreSet& s, const float* rows, int count, At at,
                  std::int32_t* clustno, double r) {
    w.searched += count;
    nearest_rows_second(s, rows, static_cast<std::size_t>(count), b.nvars, w.winner.data(), w.best.data(),
                        w.second.data());
    for (int i = 0; i < count; ++i) {
        const std::size_t row = static_cast<std::size_t>(at(i));
        const std::size_t j = static_cast<std::size_t>(i);
        clustno[row] = w.winner[j];
        renew(b.upper[row], b.lower[row], w.best[j], w.second[j], b.cityblock, r);
    }
}

}  // namespace

std::uint64_t prune_bytes(std::int64_t rows) { return static_cast<std::uint64_t>(rows) * 2u * sizeof(double); }

void prune_start(PruneBounds& b, std::vector<PruneScratch>& scratch, const Resources& r, const DataFile& data,
                 int K, bool cityblock) {
    b = PruneBounds{};
    b.cityblock = cityblock;
    b.nvars = data.nvars;
    const std::uint64_t budget = table_budget(r);
    const std::uint64_t kept = rows_in_memory(data) ? data.table.capacity * sizeof(float) : 0;
    const std::uint64_t need = prune_bytes(data.N);
    b.on = r.prune && data.N > 0 && kept <= budget && need <= budget - kept;
    if (!b.on) return;
    b.upper.assign(static_cast<std::size_t>(data.N), inf);
    b.lower.assign(static_cast<std::size_t>(data.N), 0.0);
    b.move.assign(static_cast<std::size_t>(K), 0.0);
    scratch.resize(static_cast<std::size_t>(data.workers->threads));
    for (PruneScratch& w : scratch) {
        w.rows.resize(static_cast<std::size_t>(prune_batch) * static_cast<std::size_t>(data.nvars));
        w.at.resize(prune_batch);
        w.winner.resize(prune_batch);
        w.best.resize(prune_batch);
        w.second.resize(prune_batch);
    }
}

void prune_block(PruneBounds& b, PruneScratch& w, const CentreSet& s, const Centres& c, const float* rows,
                 std::int64_t first, std::int64_t n, std::int32_t* clustno) {
    assert(b.on && s.nvars == b.nvars && c.nvars == b.nvars);
    const int nvars = b.nvars;
    const double r = rho(nvars);
    const std::size_t stride = static_cast<std::size_t>(nvars);
    // The rows gathered in `w`, searched together.
    auto search = [&](int count) {
        search_renew(b, w, s, w.rows.data(), count, [&](int i) { return w.at[static_cast<std::size_t>(i)]; },
                     clustno, r);
    };
    if (!b.ready) {
        for (std::int64_t i = 0; i < n; i += prune_batch) {
            const int count = static_cast<int>(n - i < prune_batch ? n - i : prune_batch);
            const std::int64_t base = first + i;
            search_renew(b, w, s, rows + static_cast<std::size_t>(i) * stride, count,
                         [base](int j) { return base + j; }, clustno, r);
        }
        return;
    }
    int pending = 0;
    const float* x = rows;
    for (std::int64_t i = 0; i < n; ++i, x += stride) {
        const std::size_t row = static_cast<std::size_t>(first + i);
        const int a = clustno[row];
        assert(a >= 0 && a < c.K);
        const double other = a == b.move_at ? b.move_next : b.move_top;
        double u = (b.upper[row] + b.move[static_cast<std::size_t>(a)]) * up;
        const double shrunk = (b.lower[row] - other) * down;
        const double l = shrunk > 0.0 ? shrunk : 0.0;  // NaN too
        b.lower[row] = l;
        if (!clear(u, l, r)) {
            u = exact_upper(x, c.row(a), nvars, b.cityblock);
            if (!clear(u, l, r)) {
                std::memcpy(w.rows.data() + static_cast<std::size_t>(pending) * stride, x, stride * sizeof(float));
                w.at[static_cast<std::size_t>(pending)] = first + i;
                if (++pending == prune_batch) {
                    search(pending);
                    pending = 0;
                }
                continue;
            }
        }
        b.upper[row] = u;
    }
    if (pending > 0) search(pending);
}

void prune_moved(PruneBounds& b, const Centres& before, const Centres& after, std::int64_t searched) {
    assert(b.on && before.K == after.K && before.nvars == b.nvars && after.nvars == b.nvars);
    b.move_top = b.move_next = 0.0;
    b.move_at = -1;
    for (int k = 0; k < after.K; ++k) {
        double m = exact_upper(before.row(k), after.row(k), b.nvars, b.cityblock);
        if (!(m >= 0.0)) m = inf;  // a centre that is not finite: no bound holds
        b.move[static_cast<std::size_t>(k)] = m;
        if (m > b.move_top) {
            b.move_next = b.move_top;
            b.move_top = m;
            b.move_at = k;
        } else if (m > b.move_next) {
            b.move_next = m;
        }
    }
    if (b.ready) {  // a pruned pass
        const bool paid = static_cast<std::uint64_t>(searched) * 4u <= b.upper.size() * 3u;
        b.full_left = paid ? 0 : b.backoff;
        b.backoff = paid ? 1 : (b.backoff * 2 < 8 ? b.backoff * 2 : 8);
    }
    b.ready = b.full_left == 0;
    if (!b.ready) --b.full_left;
}

}  // namespace kmeans
