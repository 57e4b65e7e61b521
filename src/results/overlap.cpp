#include <cstdint>

#include "cli/keyboard.h"
#include "cluster/distance.h"
#include "data/centre_file.h"
#include "results/evaluate.h"

void overlap_count(Run& run, LearnFile& f) {
    const Params& p = run.p;
    emit(stderr, "\nCompute overlap:  ");
    const float threshold = static_cast<float>(static_cast<double>(f.mdist) * 0.5);
    long overlaps = 0;
    const int nvars = f.data.nvars;
    each_row(p, f.data, f.spinner, [&](std::int64_t r) {
        const int own = f.clustno[static_cast<std::size_t>(r)];
        for (int j = 0; j < f.nused; ++j) {
            if (j == own) continue;
            if (distance(p.cityblock, f.data.row, f.clust.row(j), nvars) <= threshold) ++overlaps;
        }
    });
    emit(stdout, "\nNo.of overlaps (at mdist/2): %ld\n", overlaps);
    result_printf(f.centre_file, "No.of overlaps (at mdist/2): %ld\n", overlaps);
}

void evaluate(Run& run, LearnFile& f) {
    assignment_pass(run, f);
    statistics_and_centres(run, f);
    final_pass(run, f);
    if (run.p.debug != 0) overlap_count(run, f);
    say(run.p, Show::quiet_lt3, stderr, "\n");
}
