#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/console.h"
#include "cluster/nearest.h"
#include "learn/evaluate.h"

namespace kmeans {

// Moves the clusters with rows to the front of the table, keeping their
// order, so that clusters 0..nused-1 are exactly the used ones.
static int compact_used(LearnFile& f) {
    int nused = 0;
    const std::size_t width = static_cast<std::size_t>(f.clust.nvars);
    for (int k = 0; k < f.clust.K; ++k) {
        if (f.counts[static_cast<std::size_t>(k)] == 0) continue;
        if (k != nused) {
            std::copy(f.clust.row(k), f.clust.row(k) + width, f.clust.row(nused));
            f.counts[static_cast<std::size_t>(nused)] = f.counts[static_cast<std::size_t>(k)];
            f.counts[static_cast<std::size_t>(k)] = 0;
        }
        ++nused;
    }
    return nused;
}

void assignment_pass(const Params& p, LearnFile& f) {
    // The debug announcement takes the place of the spinner's line start.
    if (shown(p, Show::debug1)) emit(stderr, "\nCompute custervalues:  ");
    else say(p, Show::quiet0, stderr, "\n ");

    const int K = f.clust.K;
    const int nvars = f.data.nvars;
    f.counts.assign(static_cast<std::size_t>(max_clusters), 0);
    CentreSet set;
    centres_prepare(set, f.clust, nvars, K, p.cityblock, p.kernel,
                    [&](int k) { return !never_opened(f.clust.row(k)); });
    std::vector<float> best = block_scratch(f.data);
    // The winners go to clustno, which the final pass fills anew.
    auto map = [&](const RowBlock& b, int worker) {
        std::int32_t* w = f.clustno.data() + b.first;
        nearest_rows(set, b.values, static_cast<std::size_t>(b.count), nvars, w, best.data() + worker * max_block_rows);
        // Every centre at the marker value: only possible with such data.
        for (std::int64_t i = 0; i < b.count; ++i)
            if (w[i] < 0) w[i] = 0;
    };
    auto reduce = [&](const RowBlock& b) {
        for (std::int64_t r = b.first; r < b.first + b.count; ++r)
            ++f.counts[static_cast<std::size_t>(f.clustno[static_cast<std::size_t>(r)])];
    };
    each_block(p, f.data, SpinFrom::last, static_cast<std::size_t>(K) * static_cast<std::size_t>(nvars), map, reduce);
    f.nused = compact_used(f);
}

void final_pass(const Params& p, LearnFile& f) {
    say(p, Show::debug1, stderr, "Writing clustervaluefile:  ");
    result_create_or_panic(f.value_file, f.value_name);
    const int nvars = f.data.nvars;
    CentreSet set;
    centres_prepare_all(set, f.clust, nvars, f.nused, p.cityblock, p.kernel);
    std::vector<float> best = block_scratch(f.data);
    auto map = [&](const RowBlock& b, int worker) {
        nearest_rows(set, b.values, static_cast<std::size_t>(b.count), nvars, f.clustno.data() + b.first,
                     best.data() + worker * max_block_rows);
    };
    auto reduce = [&](const RowBlock& b) {
        for (std::int64_t r = b.first; r < b.first + b.count; ++r)
            result_int_line(f.value_file, f.clustno[static_cast<std::size_t>(r)] + 1);
    };
    each_block(p, f.data, SpinFrom::start, static_cast<std::size_t>(f.nused) * static_cast<std::size_t>(nvars), map,
               reduce);
}

}  // namespace kmeans
