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
    // The centres as the search reads them, laid out once per pass; the one
    // centre a row moves is laid out again after it.
    CentreSet set;

    say(p.levels, Show::quiet_lt2, stderr, "Adaptive K-means algorithm.\n");
    for (int it = 1; it <= p.clustering.iterations; ++it) {
        say(p.levels, Show::quiet_lt2, stderr, "\nIteration:%-3d Alpha:%-10.6G ", it, static_cast<double>(alpha));
        centres_prepare_all(set, clust, nvars, K, p.clustering.cityblock, p.resources.kernel);
        Failure f;
        if (adaptive_pass_runs(set)) {
            AdaptivePass a = adaptive_begin(set, clust, alpha, p.resources.kernel);
            data.spinner = Spinner{};
            auto progress = [&](std::int64_t r) {
                if (spinner_due(r)) spin(p.levels, data.spinner);
            };
            f = each_run_with(data, progress, [&](std::int64_t r, std::int64_t n, const float* x, bool progressed) {
                if (!progressed)
                    for (std::int64_t i = r; i < r + n; ++i) progress(i);
                adaptive_rows(a, x, static_cast<std::size_t>(n), &clustno[static_cast<std::size_t>(r)]);
            });
            if (!failed(f)) adaptive_end(a);
        } else {
            f = each_row(p.levels, data, SpinFrom::start, [&](std::int64_t r, const float* x) {
                std::int32_t w;
                float best;
                nearest_rows(set, x, 1, nvars, &w, &best);
                clustno[static_cast<std::size_t>(r)] = w;
                centres_pull(set, clust, w, x, alpha);
            });
        }
        if (failed(f)) return f;
        alpha = next_alpha(alpha, p.clustering.rate_factor);
        say(p.levels, Show::debug2, stdout, "\n");
        count_rows(clustno, count);
        report_counts(p.levels, clust, count, false);
    }
    return Failure{};
}

}  // namespace kmeans
