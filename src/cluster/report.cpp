#include <algorithm>
#include <cassert>

#include "base/console.h"
#include "cluster/algorithms.h"

namespace kmeans {

void warn_isolated(const Levels& l, int k) {
    say(l, Show::quiet_lt3, stderr, "\nVARNING: Cluster %d is isolated.\n", k + 1);
}

void count_rows(const std::vector<std::int32_t>& clustno, std::vector<std::uint32_t>& count) {
    std::fill(count.begin(), count.end(), 0u);
    for (std::int32_t w : clustno) {
        assert(w >= 0 && static_cast<std::size_t>(w) < count.size());
        ++count[static_cast<std::size_t>(w)];
    }
}

void report_counts(const Levels& l, const Centres& clust, const std::vector<std::uint32_t>& count, bool slot_label) {
    for (int k = 0; k < clust.K; ++k) {
        std::uint32_t n = count[static_cast<std::size_t>(k)];
        if (n == 0) {
            warn_isolated(l, k);
            continue;
        }
        if (!shown(l, Show::debug2)) continue;
        if (slot_label) emit(stdout, "Counts:%-6ld ", static_cast<long>(n));
        else emit(stdout, "Antal:%d ", static_cast<int>(n));
        const float* centre = clust.row(k);
        for (int v = 0; v < clust.nvars; ++v) emit(stdout, "k[%d][%d]=%-12.6G ", k, v, static_cast<double>(centre[v]));
        emit(stdout, "\n");
    }
}

}  // namespace kmeans
