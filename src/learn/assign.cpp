#include <algorithm>
#include <cstdint>

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
    f.counts.assign(static_cast<std::size_t>(max_clusters), 0);
    auto opened = [&](int k) { return !never_opened(f.clust.row(k)); };
    each_row(p, f.data, SpinFrom::last, [&](std::int64_t) {
        float best;
        int w = nearest(f.clust, f.data.row, f.data.nvars, K, p.cityblock, best, opened);
        if (w < 0) w = 0;  // every centre at the marker value: only possible with such data
        ++f.counts[static_cast<std::size_t>(w)];
    });
    f.nused = compact_used(f);
}

void final_pass(const Params& p, LearnFile& f) {
    say(p, Show::debug1, stderr, "Writing clustervaluefile:  ");
    result_create_or_panic(f.value_file, f.value_name);
    each_row(p, f.data, SpinFrom::start, [&](std::int64_t r) {
        float best;
        int w = nearest_all(f.clust, f.data.row, f.data.nvars, f.nused, p.cityblock, best);
        f.clustno[static_cast<std::size_t>(r)] = w;
        result_int_line(f.value_file, w + 1);
    });
}

}  // namespace kmeans
