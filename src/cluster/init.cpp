#include "cluster/init.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

#include "base/console.h"
#include "cluster/distance.h"

namespace kmeans {

// The centre listing of debug level 2, after the line naming the start.
static void list_centres(const Levels& l, const Centres& clust) {
    if (!shown(l, Show::debug2)) return;
    for (int k = 0; k < clust.K; ++k) {
        for (int v = 0; v < clust.nvars; ++v)
            say(l, Show::debug2, stdout, "clust[%d][%d]=%-12.6G ", k, v, static_cast<double>(clust.row(k)[v]));
        say(l, Show::debug2, stdout, "\n");
    }
}

void random_centres(const Levels& l, Rng& rng, const Ranges& ranges, Centres& clust) {
    const double c = draw_scale();
    say(l, Show::debug2, stdout, "Randomizing %d clusters\n", clust.K);
    for (int k = 0; k < clust.K; ++k) {
        float* centre = clust.row(k);
        for (int v = 0; v < clust.nvars; ++v) {
            float range = ranges.max[v] - ranges.min[v];
            int r = draw(rng);
            centre[v] = static_cast<float>(static_cast<double>(r) * c * static_cast<double>(range) +
                                           static_cast<double>(ranges.min[v]));
            say(l, Show::debug2, stdout, "clust[%d][%d]=%-12.6G ", k, v, static_cast<double>(centre[v]));
        }
        say(l, Show::debug2, stdout, "\n");
    }
}

Failure draw_start(const Params& p, Rng& rng, DataFile& data, const Ranges& ranges, Centres& clust) {
    if (p.clustering.start == Start::kmeans_pp) return kmeanspp_centres(p, rng, data, clust);
    random_centres(p.levels, rng, ranges, clust);
    return Failure{};
}

int kmeanspp_candidates(int K) {
    assert(K >= 1);
    return 2 + static_cast<int>(std::floor(std::log(static_cast<double>(K))));
}

void pick_weighted(const double* w, std::int64_t n, const std::vector<double>& targets,
                   std::vector<std::int64_t>& picked) {
    assert(n > 0);
    std::vector<std::size_t> order(targets.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return targets[a] < targets[b]; });
    picked.assign(targets.size(), 0);
    std::int64_t last_positive = 0;
    std::size_t next = 0;
    double run = 0.0;
    for (std::int64_t i = 0; i < n && next < order.size(); ++i) {
        if (w[i] > 0.0) last_positive = i;
        run += w[i];
        while (next < order.size() && run > targets[order[next]]) picked[order[next++]] = i;
    }
    for (; next < order.size(); ++next) picked[order[next]] = last_positive;
}

// Copies rows `rows` (any order, repeats allowed) of `data` into `out`, row
// after row (rows.size() * nvars values): straight from the table when the
// rows are in memory, else by a pass that reads them again (without turning
// the spinner, which a table row does not turn either).
static Failure fetch_rows(DataFile& data, const std::vector<std::int64_t>& rows, std::vector<float>& out) {
    const std::size_t width = static_cast<std::size_t>(data.nvars);
    out.resize(rows.size() * width);
    if (rows_in_memory(data)) {
        for (std::size_t j = 0; j < rows.size(); ++j)
            std::memcpy(out.data() + j * width, data.table.values + static_cast<std::size_t>(rows[j]) * width,
                        width * sizeof(float));
        return Failure{};
    }
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return rows[a] < rows[b]; });
    std::size_t next = 0;
    return each_row_with(data, [](std::int64_t) {}, [&](std::int64_t r, const float* x) {
        for (; next < order.size() && rows[order[next]] == r; ++next)
            std::memcpy(out.data() + order[next] * width, x, width * sizeof(float));
    });
}

// Lowers every row's weight to its term against `centre` where that is
// smaller (in parallel, each row on its own), and sets `total` to the sum of
// the weights, added in file order.
static Failure lower_weights(const Params& p, DataFile& data, const float* centre, std::vector<double>& weight,
                             double& total) {
    const int nvars = data.nvars;
    const bool cityblock = p.clustering.cityblock;
    total = 0.0;
    auto map = [&](const RowBlock& b, int) {
        const float* x = b.values;
        for (std::int64_t r = b.first; r < b.first + b.count; ++r, x += nvars) {
            double& wr = weight[static_cast<std::size_t>(r)];
            wr = std::min(wr, spread_term(cityblock, x, centre, nvars));
        }
    };
    auto reduce = [&](const RowBlock& b) {
        for (std::int64_t r = b.first; r < b.first + b.count; ++r) total += weight[static_cast<std::size_t>(r)];
    };
    return each_block(p.levels, data, SpinFrom::last, static_cast<std::size_t>(nvars), map, reduce);
}

Failure kmeanspp_centres(const Params& p, Rng& rng, DataFile& data, Centres& clust) {
    const std::int64_t N = data.N;
    const int nvars = data.nvars;
    const bool cityblock = p.clustering.cityblock;
    const std::size_t width = static_cast<std::size_t>(nvars);
    assert(N > 0 && clust.nvars == nvars);
    say(p.levels, Show::debug2, stdout, "k-means++ start of %d clusters\n", clust.K);
    auto uniform_row = [&] { return std::min(N - 1, static_cast<std::int64_t>(draw_unit(rng) * static_cast<double>(N))); };

    std::vector<double> weight(static_cast<std::size_t>(N), std::numeric_limits<double>::infinity());
    std::vector<std::int64_t> picked{uniform_row()};
    std::vector<float> cand;
    if (Failure f = fetch_rows(data, picked, cand); failed(f)) return f;
    std::memcpy(clust.row(0), cand.data(), width * sizeof(float));
    double total = 0.0;
    if (Failure f = lower_weights(p, data, clust.row(0), weight, total); failed(f)) return f;

    const int L = kmeanspp_candidates(clust.K);
    std::vector<double> targets(static_cast<std::size_t>(L));
    std::vector<double> sums(static_cast<std::size_t>(L));
    for (int k = 1; k < clust.K; ++k) {
        // Without weight left every row lies on a centre: any row will do.
        if (total > 0.0) {
            for (double& t : targets) t = draw_unit(rng) * total;
            pick_weighted(weight.data(), N, targets, picked);
        } else {
            picked.resize(static_cast<std::size_t>(L));
            for (std::int64_t& r : picked) r = uniform_row();
        }
        if (Failure f = fetch_rows(data, picked, cand); failed(f)) return f;
        // Each candidate's sum of the weights it would leave, rows in file order.
        std::fill(sums.begin(), sums.end(), 0.0);
        Failure f = each_row(p.levels, data, SpinFrom::last, [&](std::int64_t r, const float* x) {
            const double wr = weight[static_cast<std::size_t>(r)];
            for (int j = 0; j < L; ++j)
                sums[static_cast<std::size_t>(j)] +=
                    std::min(wr, spread_term(cityblock, x, cand.data() + static_cast<std::size_t>(j) * width, nvars));
        });
        if (failed(f)) return f;
        int best = 0;
        for (int j = 1; j < L; ++j)
            if (sums[static_cast<std::size_t>(j)] < sums[static_cast<std::size_t>(best)]) best = j;
        std::memcpy(clust.row(k), cand.data() + static_cast<std::size_t>(best) * width, width * sizeof(float));
        if (k + 1 < clust.K)
            if (Failure g = lower_weights(p, data, clust.row(k), weight, total); failed(g)) return g;
    }
    list_centres(p.levels, clust);
    return Failure{};
}

float estimate_maxdist(const Ranges& r, int nvars, int K, bool use_cityblock) {
    double sum = 0.0;
    for (int v = 0; v < nvars; ++v) {
        double d = static_cast<double>(r.max[v]) - static_cast<double>(r.min[v]);
        sum += use_cityblock ? std::fabs(d) : d * d;
    }
    double total = static_cast<float>(sum);
    if (!use_cityblock) total = std::sqrt(total);
    return static_cast<float>(total / K);
}

float akmdi_start(const Params& p, const Ranges& ranges, Centres& clust) {
    const bool given = maxdist_given(p.clustering);
    const float maxdist = given ? p.clustering.max_dist : estimate_maxdist(ranges, clust.nvars, p.clustering.clusters, p.clustering.cityblock);
    say(p.levels, Show::quiet_lt2, stderr, "%s MaxDist:%-10.4G\n", given ? "Given" : "Estimated", static_cast<double>(maxdist));
    std::fill(clust.v.begin(), clust.v.end(), marker);
    return maxdist;
}

}  // namespace kmeans
