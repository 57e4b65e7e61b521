#include <cstdint>
#include <vector>

#include "base/console.h"
#include "cluster/algorithms.h"
#include "cluster/nearest.h"

namespace kmeans {

void run_akm(const Params& p, DataFile& data, Centres& clust, std::vector<std::int32_t>& clustno) {
    const int K = clust.K;
    const int nvars = data.nvars;
    float alpha = p.Alpha;
    std::vector<std::uint32_t> count(static_cast<std::size_t>(K));
    const NearestPath path = nearest_path_row_major(p.kernel, K, nvars);  // chosen once, not for every row

    say(p, Show::quiet_lt2, stderr, "Adaptive K-means algorithm.\n");
    for (int it = 1; it <= p.R; ++it) {
        say(p, Show::quiet_lt2, stderr, "\nIteration:%-3d Alpha:%-10.6G ", it, static_cast<double>(alpha));
        each_row(p, data, SpinFrom::start, [&](std::int64_t r, const float* x) {
            float best;
            int w = nearest_all_with(path, clust, x, nvars, K, p.cityblock, best);
            clustno[static_cast<std::size_t>(r)] = w;
            pull_centre(clust.row(w), x, nvars, alpha);
        });
        alpha = next_alpha(alpha, p.ItParam);
        say(p, Show::debug2, stdout, "\n");
        report_counts(p, clust, clustno, count, false);
    }
}

}  // namespace kmeans
