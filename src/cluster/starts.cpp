#include "cluster/starts.h"

#include <cassert>
#include <cmath>

#include "base/console.h"
#include "cluster/algorithms.h"
#include "cluster/distance.h"
#include "cluster/init.h"
#include "cluster/nearest.h"

namespace kmeans {

Failure sum_of_squares(const Params& p, DataFile& data, const Centres& clust, std::vector<std::int32_t>& clustno,
                       double& sse) {
    const int K = clust.K;
    const int nvars = data.nvars;
    assert(clustno.size() == static_cast<std::size_t>(data.N));
    CentreSet set;
    centres_prepare_all(set, clust, nvars, K, p.clustering.cityblock, p.resources.kernel);
    std::vector<float> best = block_scratch(data);
    sse = 0.0;
    auto map = [&](const RowBlock& b, int worker) {
        std::int32_t* w = clustno.data() + b.first;
        nearest_rows(set, b.values, static_cast<std::size_t>(b.count), nvars, w, best.data() + worker * max_block_rows);
        for (std::int64_t i = 0; i < b.count; ++i)
            if (w[i] < 0) w[i] = 0;  // every centre at the marker value: only possible with such data
    };
    auto reduce = [&](const RowBlock& b) {
        const float* x = b.values;
        for (std::int64_t r = b.first; r < b.first + b.count; ++r, x += nvars) {
            const std::int32_t w = clustno[static_cast<std::size_t>(r)];
            assert(w >= 0 && w < K);
            sse += spread_term(p.clustering.cityblock, x, clust.row(w), nvars);
        }
    };
    const std::size_t cost = static_cast<std::size_t>(K) * static_cast<std::size_t>(nvars);
    return each_block(p.levels, data, SpinFrom::last, cost, map, reduce);
}

int best_start(const std::vector<double>& sse) {
    assert(!sse.empty());
    int best = 0;
    for (int s = 1; s < static_cast<int>(sse.size()); ++s) {
        const double here = sse[static_cast<std::size_t>(s)];
        const double kept = sse[static_cast<std::size_t>(best)];
        if (here < kept || (std::isnan(kept) && !std::isnan(here))) best = s;
    }
    return best;
}

// One run of the algorithm the switches chose (SKM or AKM) from `clust`.
static Failure run_once(const Params& p, DataFile& data, Centres& clust, std::vector<std::int32_t>& clustno,
                        Pruning* keep = nullptr) {
    assert(p.clustering.algorithm == SKM || p.clustering.algorithm == AKM);
    return p.clustering.algorithm == AKM ? run_akm(p, data, clust, clustno) : run_skm(p, data, clust, clustno, keep);
}

Failure learn_from_starts(const Params& p, Rng& rng, DataFile& data, const Ranges& ranges, Centres& clust,
                          std::vector<std::int32_t>& clustno, Pruning* keep) {
    const Clustering& c = p.clustering;
    if (!starts_reported(c)) return run_once(p, data, clust, clustno, keep);
    std::vector<double> sse;
    std::vector<float> kept;
    for (int s = 1; s <= c.restarts; ++s) {
        if (s > 1)
            if (Failure f = draw_start(p, rng, data, ranges, clust); failed(f)) return f;
        if (Failure f = run_once(p, data, clust, clustno); failed(f)) return f;
        double sum = 0.0;
        if (Failure f = sum_of_squares(p, data, clust, clustno, sum); failed(f)) return f;
        say(p.levels, Show::quiet_lt2, stderr, "\nStart %d of %d: sum of squares %.10G\n", s, c.restarts, sum);
        sse.push_back(sum);
        if (best_start(sse) == s - 1) kept = clust.v;
    }
    clust.v = kept;
    if (c.restarts > 1)
        say(p.levels, Show::quiet_lt2, stderr, "Kept start %d of %d.\n", best_start(sse) + 1, c.restarts);
    return Failure{};
}

}  // namespace kmeans
