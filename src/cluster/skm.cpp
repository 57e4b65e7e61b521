#include <cstdint>
#include <vector>

#include "base/console.h"
#include "cluster/algorithms.h"
#include "cluster/nearest.h"

namespace kmeans {

// One iteration reads the data once: each row's winner is stored in clustno
// and the row is added to its winner's single-precision sums at once. Each
// cluster's sums still add its rows in file order with a rounding after every
// addition, so the means are those of separate passes per cluster.
void run_skm(const Params& p, DataFile& data, Centres& clust, std::vector<std::int32_t>& clustno) {
    const int K = clust.K;
    const int nvars = data.nvars;
    std::vector<float> sums(static_cast<std::size_t>(K) * static_cast<std::size_t>(nvars));
    std::vector<std::uint32_t> count(static_cast<std::size_t>(K));

    say(p, Show::quiet_lt2, stderr, "Standard K-means algorithm.\n");
    for (int it = 1; it <= p.R; ++it) {
        say(p, Show::quiet_lt2, stderr, "\nIteration:%-3d ", it);
        std::fill(sums.begin(), sums.end(), 0.0f);
        std::fill(count.begin(), count.end(), 0u);
        each_row(p, data, SpinFrom::last, [&](std::int64_t r) {
            float best;
            int w = nearest_all(clust, data.row, nvars, K, p.cityblock, best);
            clustno[static_cast<std::size_t>(r)] = w;
            float* sum = sums.data() + static_cast<std::size_t>(w) * static_cast<std::size_t>(nvars);
            for (int v = 0; v < nvars; ++v) sum[v] += data.row[v];
            ++count[static_cast<std::size_t>(w)];
        });
        say(p, Show::debug2, stdout, "\nCompute new clustercenter\n");
        for (int k = 0; k < K; ++k) {
            std::uint32_t n = count[static_cast<std::size_t>(k)];
            if (n == 0) {
                warn_isolated(p, k);
                continue;
            }
            say(p, Show::debug2, stdout, "Antal:%-6ld ", static_cast<long>(n));
            const float* sum = sums.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(nvars);
            float* centre = clust.row(k);
            for (int v = 0; v < nvars; ++v) {
                centre[v] = static_cast<float>(static_cast<double>(sum[v]) / static_cast<double>(n));
                say(p, Show::debug2, stdout, "k[%d][%d]=%-12.6G ", k, v, static_cast<double>(centre[v]));
            }
            say(p, Show::debug2, stdout, "\n");
        }
    }
}

}  // namespace kmeans
