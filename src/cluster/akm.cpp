#include <cstdint>
#include <vector>

#include "base/console.h"
#include "cluster/algorithms.h"
#include "cluster/nearest.h"

namespace kmeans {

Failure run_akm(const Params& p, DataFile& data, Centres& clust, std::vector<std::int32_t>& clustno) {
    const int K = clust.K;
    const int nvars = data.nvars;
    float alpha = p.clustering.rate;
    std::vector<std::uint32_t> count(static_cast<std::size_t>(K));
    const NearestPath path = nearest_path_row_major(p.resources.kernel, K, nvars);  // chosen once, not for every row

    say(p.levels, Show::quiet_lt2, stderr, "Adaptive K-means algorithm.\n");
    for (int it = 1; it <= p.clustering.iterations; ++it) {
        say(p.levels, Show::quiet_lt2, stderr, "\nIteration:%-3d Alpha:%-10.6G ", it, static_cast<double>(alpha));
        Failure f = each_row(p.levels, data, SpinFrom::start, [&](std::int64_t r, const float* x) {
            float best;
            int w = nearest_all_with(path, clust, x, nvars, K, p.clustering.cityblock, best);
            clustno[static_cast<std::size_t>(r)] = w;
            pull_centre(clust.row(w), x, nvars, alpha);
        });
        if (failed(f)) return f;
        alpha = next_alpha(alpha, p.clustering.rate_factor);
        say(p.levels, Show::debug2, stdout, "\n");
        count_rows(clustno, count);
        report_counts(p.levels, clust, count, false);
    }
    return Failure{};
}

}  // namespace kmeans
