#include <algorithm>
#include <cassert>
#include <cstdint>
#include <vector>

#include "base/console.h"
#include "cluster/nearest.h"
#include "cluster/prune.h"
#include "learn/learn_file.h"

namespace kmeans {

// Moves the clusters with rows to the front of the table, keeping their
// order, so that clusters 0..nused-1 are exactly the used ones; f.renumber
// tells where each used cluster went.
static int compact_used(LearnFile& f) {
    int nused = 0;
    const std::size_t width = static_cast<std::size_t>(f.clust.nvars);
    f.renumber.assign(static_cast<std::size_t>(f.clust.K), -1);
    for (int k = 0; k < f.clust.K; ++k) {
        if (f.counts[static_cast<std::size_t>(k)] == 0) continue;
        f.renumber[static_cast<std::size_t>(k)] = nused;
        if (k != nused) {
            std::copy(f.clust.row(k), f.clust.row(k) + width, f.clust.row(nused));
            f.counts[static_cast<std::size_t>(nused)] = f.counts[static_cast<std::size_t>(k)];
            f.counts[static_cast<std::size_t>(k)] = 0;
        }
        ++nused;
    }
    return nused;
}

Failure assignment_pass(const Params& p, LearnFile& f) {
    const int K = f.clust.K;
    const int nvars = f.data.nvars;
    f.counts.assign(static_cast<std::size_t>(max_clusters), 0);
    CentreSet set;
    bool opened = true;
    for (int k = 0; k < K; ++k) opened = opened && !never_opened(f.clust.row(k));
    centres_prepare(set, f.clust, nvars, K, p.clustering.cityblock, p.resources.kernel,
                    [&](int k) { return !never_opened(f.clust.row(k)); });
    centres_block(set, f.clust);
    std::vector<float> best = block_scratch(f.data);
    // SKM's bounds hold for the learned centres after its last pass: the
    // rows they settle keep their winner (all centres are candidates).
    PruneBounds& bounds = f.pruning.bounds;
    assert(!bounds.on || bounds.K == K);
    const bool pruned = bounds.on && opened;
    if (pruned) prune_pass(bounds, f.clust);
    // The winners go to clustno, which the final pass fills anew.
    auto map = [&](const RowBlock& b, int worker) {
        std::int32_t* w = f.clustno.data() + b.first;
        if (pruned) {
            prune_block(bounds, f.pruning.scratch[static_cast<std::size_t>(worker)], set, f.clust, b.values, b.first,
                        b.count, f.clustno.data());
            return;
        }
        nearest_rows(set, b.values, static_cast<std::size_t>(b.count), nvars, w, best.data() + worker * max_block_rows);
        // Every centre at the marker value: only possible with such data.
        for (std::int64_t i = 0; i < b.count; ++i)
            if (w[i] < 0) w[i] = 0;
    };
    auto reduce = [&](const RowBlock& b) {
        for (std::int64_t r = b.first; r < b.first + b.count; ++r) {
            const std::int32_t w = f.clustno[static_cast<std::size_t>(r)];
            assert(w >= 0 && w < K);
            ++f.counts[static_cast<std::size_t>(w)];
        }
    };
    const std::size_t cost = pruned ? prune_row_cost(bounds, K, nvars)
                                    : static_cast<std::size_t>(K) * static_cast<std::size_t>(nvars);
    const Failure fail = each_block(p.levels, f.data, SpinFrom::last, cost, map, reduce);
    f.pruning = Pruning{};
    if (failed(fail)) return fail;
    f.nused = compact_used(f);
    return Failure{};
}

Failure final_pass(const Params& p, LearnFile& f) {
    // Each row's cluster of the assignment pass under its new number (see
    // learn_file.h); the pass goes through the rows for the spinner and for
    // a data file read again, which must not have changed.
    auto map = [&](const RowBlock& b, int) {
        for (std::int64_t r = b.first; r < b.first + b.count; ++r) {
            std::int32_t& w = f.clustno[static_cast<std::size_t>(r)];
            assert(w >= 0 && w < f.clust.K && f.renumber[static_cast<std::size_t>(w)] >= 0);
            w = f.renumber[static_cast<std::size_t>(w)];
        }
    };
    auto reduce = [&](const RowBlock& b) {
        for (std::int64_t r = b.first; r < b.first + b.count; ++r) {
            const std::int32_t w = f.clustno[static_cast<std::size_t>(r)];
            assert(w >= 0 && w < f.nused);
            result_int_line(f.value_file, w + 1);
        }
    };
    const std::size_t cost = static_cast<std::size_t>(f.data.nvars);
    if (Failure fail = each_block(p.levels, f.data, SpinFrom::start, cost, map, reduce); failed(fail)) return fail;
    return result_failure(f.value_file);
}

}  // namespace kmeans
