#include "cluster/init.h"

#include <algorithm>
#include <cmath>

#include "base/console.h"

namespace kmeans {

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
