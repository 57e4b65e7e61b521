#include <cmath>

#include "base/console.h"
#include "base/keyboard.h"
#include "base/registry.h"
#include "cluster/distance.h"
#include "io/centre_file.h"
#include "learn/learn_file.h"

namespace kmeans {

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
            double d = p.clustering.cityblock ? static_cast<double>(cityblock(f.clust.row(i), f.clust.row(j), nvars))
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

// A centre of clusters 0..nused-1 or a working MaxDist that has left the
// single-precision range (a sum that overflowed, a rate that overshot) would
// be written as INF or NAN, which no centre file may hold: the run stops
// before any line of the centre file is written and any result takes its name.
static void check_single_range(const LearnFile& f) {
    bool finite = std::isfinite(f.MaxDist);
    const std::size_t values = static_cast<std::size_t>(f.nused) * static_cast<std::size_t>(f.clust.nvars);
    for (std::size_t i = 0; i < values && finite; ++i) finite = std::isfinite(f.clust.v[i]);
    if (!finite) panic(5, "\nPANIC: Values too large for single precision: %s\n\n", f.data.name.c_str());
}

Failure statistics_and_centres(const Params& p, LearnFile& f) {
    check_single_range(f);
    if (p.levels.debug != 0) mean_distance(p, f);
    if (p.levels.used != 0) {
        say(p.levels, Show::debug1, stdout, "No. of used clusters:%-3d\n", f.nused);
        say(p.levels, Show::used2, stdout, "%d\n", f.nused);
    }
    for (int i = 0; i < f.nused; ++i)
        say(p.levels, Show::debug1, stdout, "Counts in cluster%-3d: %6ld\n", i + 1,
            static_cast<long>(f.counts[static_cast<std::size_t>(i)]));
    centre_file_centres(p.levels, f.centre_file, f.MaxDist, f.clust, f.counts, f.nused);
    return result_failure(f.centre_file);
}

}  // namespace kmeans
