#include <algorithm>
#include <cassert>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/console.h"
#include "cluster/algorithms.h"
#include "cluster/nearest.h"
#include "cluster/prune.h"

namespace kmeans {

// One iteration is one pass: the winners of a block of rows are found on any
// thread and stored in clustno; then, block after block in file order, each
// row is added to its winner's single-precision sums. Each cluster's sums add
// its rows in file order with a rounding after every addition, so the means
// are those of separate passes per cluster, with any number of threads.
// Where the bounds fit the memory budget, a pass after the first searches
// only the rows whose winner may have changed (prune.h), and long rows take
// the blocked search (centres_block()); the winners are the same.
// KMEANS_PRUNE=off takes the plain search for every row.
Failure run_skm(const Params& p, DataFile& data, Centres& clust, std::vector<std::int32_t>& clustno, Pruning* keep) {
    const int K = clust.K;
    const int nvars = data.nvars;
    std::vector<float> sums(static_cast<std::size_t>(K) * static_cast<std::size_t>(nvars));
    std::vector<std::uint32_t> count(static_cast<std::size_t>(K));
    CentreSet set;
    std::vector<float> best = block_scratch(data);
    PruneBounds bounds;
    std::vector<PruneScratch> scratch;
    if (K * nvars >= prune_min_cost) prune_start(bounds, scratch, p.resources, data, K, p.clustering.cityblock);
    Centres before = clust;

    say(p.levels, Show::quiet_lt2, stderr, "Standard K-means algorithm.\n");
    for (int it = 1; it <= p.clustering.iterations; ++it) {
        say(p.levels, Show::quiet_lt2, stderr, "\nIteration:%-3d ", it);
        std::fill(sums.begin(), sums.end(), 0.0f);
        std::fill(count.begin(), count.end(), 0u);
        // Blocks of about a million operations: a pruned pass measures little.
        const std::size_t cost = bounds.on ? prune_row_cost(bounds, K, nvars)
                                           : static_cast<std::size_t>(K) * static_cast<std::size_t>(nvars);
        centres_prepare_all(set, clust, nvars, K, p.clustering.cityblock, p.resources.kernel);
        if (p.resources.prune) centres_block(set, clust);
        if (bounds.on) prune_pass(bounds, clust);
        auto map = [&](const RowBlock& b, int worker) {
            if (bounds.on)
                return prune_block(bounds, scratch[static_cast<std::size_t>(worker)], set, clust, b.values, b.first,
                                   b.count, clustno.data());
            nearest_rows(set, b.values, static_cast<std::size_t>(b.count), nvars, clustno.data() + b.first,
                         best.data() + worker * max_block_rows);
        };
        auto reduce = [&](const RowBlock& b) {
            const std::int32_t* w = clustno.data() + b.first;
            assert(std::all_of(w, w + b.count, [K](std::int32_t k) { return k >= 0 && k < K; }));
            sums_add(set.path, sums.data(), count.data(), b.values, w, static_cast<std::size_t>(b.count), nvars, 0,
                     nvars);
        };
        if (Failure f = each_block(p.levels, data, SpinFrom::last, cost, map, reduce); failed(f)) return f;
        say(p.levels, Show::debug2, stdout, "\nCompute new clustercenter\n");
        if (bounds.on) before.v = clust.v;
        for (int k = 0; k < K; ++k) {
            std::uint32_t n = count[static_cast<std::size_t>(k)];
            if (n == 0) {
                warn_isolated(p.levels, k);
                continue;
            }
            say(p.levels, Show::debug2, stdout, "Antal:%-6ld ", static_cast<long>(n));
            const float* sum = sums.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(nvars);
            float* centre = clust.row(k);
            for (int v = 0; v < nvars; ++v) {
                centre[v] = static_cast<float>(static_cast<double>(sum[v]) / static_cast<double>(n));
                say(p.levels, Show::debug2, stdout, "k[%d][%d]=%-12.6G ", k, v, static_cast<double>(centre[v]));
            }
            say(p.levels, Show::debug2, stdout, "\n");
        }
        if (bounds.on) {
            std::int64_t searched = 0;
            for (PruneScratch& w : scratch) searched += std::exchange(w.searched, 0);
            prune_moved(bounds, before, clust, searched);
        }
    }
    if (keep && bounds.on) *keep = Pruning{std::move(bounds), std::move(scratch)};
    return Failure{};
}

}  // namespace kmeans
