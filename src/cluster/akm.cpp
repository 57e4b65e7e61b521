#include <cstdint>
#include <vector>

#include "cli/keyboard.h"
#include "cluster/algorithms.h"
#include "cluster/nearest.h"

void report_counts(const Params& p, LearnFile& f, std::vector<std::uint32_t>& count, bool slot_label) {
    std::fill(count.begin(), count.end(), 0u);
    for (std::int32_t w : f.clustno) ++count[static_cast<std::size_t>(w)];
    for (int k = 0; k < f.clust.K; ++k) {
        std::uint32_t n = count[static_cast<std::size_t>(k)];
        if (n == 0) {
            say(p, Show::quiet_lt3, stderr, "\nVARNING: Cluster %d is isolated.\n", k + 1);
            continue;
        }
        if (!shown(p, Show::debug2)) continue;
        if (slot_label) emit(stdout, "Counts:%-6ld ", static_cast<long>(n));
        else emit(stdout, "Antal:%d ", static_cast<int>(n));
        const float* centre = f.clust.row(k);
        for (int v = 0; v < f.clust.nvars; ++v) emit(stdout, "k[%d][%d]=%-12.6G ", k, v, static_cast<double>(centre[v]));
        emit(stdout, "\n");
    }
}

void run_akm(Run& run, LearnFile& f) {
    const Params& p = run.p;
    const int K = f.clust.K;
    const int nvars = f.data.nvars;
    float alpha = p.Alpha;
    std::vector<std::uint32_t> count(static_cast<std::size_t>(K));

    say(p, Show::quiet_lt2, stderr, "Adaptive K-means algorithm.\n");
    for (int it = 1; it <= p.R; ++it) {
        say(p, Show::quiet_lt2, stderr, "\nIteration:%-3d Alpha:%-10.6G ", it, static_cast<double>(alpha));
        f.spinner = Spinner{};
        each_row(p, f.data, f.spinner, [&](std::int64_t r) {
            float best;
            int w = nearest_all(f.clust, f.data.row, nvars, K, p.cityblock, best);
            f.clustno[static_cast<std::size_t>(r)] = w;
            pull_centre(f.clust.row(w), f.data.row, nvars, alpha);
        });
        alpha = next_alpha(alpha, p.ItParam);
        say(p, Show::debug2, stdout, "\n");
        report_counts(p, f, count, false);
    }
}
