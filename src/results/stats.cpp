#include <cmath>

#include "cli/keyboard.h"
#include "cluster/distance.h"
#include "data/centre_file.h"
#include "results/evaluate.h"

// Mean distance between the centres of clusters 0..nused-1, every ordered
// pair counted once, in i-then-j order, the total rounded to float after
// each addition (a Euclidean distance enters as its double root).
static void mean_distance(const Params& p, LearnFile& f) {
    emit(stdout, "\nCompute meandistance.\n");
    float totd = 0.0f;
    int npairs = 0;
    const int nvars = f.data.nvars;
    for (int i = 0; i < f.nused; ++i) {
        poll_cancel();
        for (int j = 0; j < f.nused; ++j) {
            if (j == i) continue;
            double d = p.cityblock ? static_cast<double>(cityblock(f.clust.row(i), f.clust.row(j), nvars))
                                   : euclid_root(f.clust.row(i), f.clust.row(j), nvars);
            totd = static_cast<float>(static_cast<double>(totd) + d);
            ++npairs;
        }
    }
    double mdist = static_cast<double>(totd) / npairs;
    emit(stdout, "mdist:%-12.6G nr:%-5d totd:%-12.6G\n", mdist, npairs, static_cast<double>(totd));
    centre_file_mdist(f.centre_file, mdist, npairs, totd);
    f.mdist = static_cast<float>(mdist);
}

void statistics_and_centres(Run& run, LearnFile& f) {
    const Params& p = run.p;
    if (p.debug != 0) mean_distance(p, f);
    if (p.used_level != 0) {
        say(p, Show::debug1, stdout, "No. of used clusters:%-3d\n", f.nused);
        say(p, Show::used2, stdout, "%d\n", f.nused);
    }
    centre_file_maxdist(p, f.centre_file, f.MaxDist);
    for (int i = 0; i < f.nused; ++i) {
        poll_cancel();
        long n = f.counts[static_cast<std::size_t>(i)];
        say(p, Show::debug1, stdout, "Counts in cluster%-3d: %6ld\n", i + 1, n);
        centre_file_centre(p, f.centre_file, i, n, f.clust.row(i), f.data.nvars);
    }
}
