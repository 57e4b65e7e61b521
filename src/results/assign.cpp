#include <cstdint>

#include "cli/format.h"
#include "cli/keyboard.h"
#include "cluster/nearest.h"
#include "results/evaluate.h"

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

void assignment_pass(Run& run, LearnFile& f) {
    const Params& p = run.p;
    if (p.debug != 0) emit(stderr, "\nCompute custervalues:  ");
    else say(p, Show::quiet0, stderr, "\n ");

    const int K = f.clust.K;
    f.counts.assign(static_cast<std::size_t>(max_clusters), 0);
    auto opened = [&](int k) { return !never_opened(f.clust.row(k)); };
    each_row(p, f.data, f.spinner, [&](std::int64_t) {
        float best;
        int w = nearest(f.clust, f.data.row, f.data.nvars, K, p.cityblock, best, opened);
        if (w < 0) w = 0;  // every centre at the marker value: only possible with such data
        ++f.counts[static_cast<std::size_t>(w)];
    });
    f.nused = compact_used(f);
}

void final_pass(Run& run, LearnFile& f) {
    const Params& p = run.p;
    say(p, Show::debug1, stderr, "Writing clustervaluefile:  ");
    if (!result_create(f.value_file, f.value_name))
        panic(5, "\nPANIC: Can't create file: %s\n\n", f.value_name.c_str());
    f.spinner = Spinner{};
    char line[16];
    each_row(p, f.data, f.spinner, [&](std::int64_t r) {
        float best;
        int w = nearest_all(f.clust, f.data.row, f.data.nvars, f.nused, p.cityblock, best);
        f.clustno[static_cast<std::size_t>(r)] = w;
        result_write(f.value_file, line, int_line(line, w + 1));
    });
}
