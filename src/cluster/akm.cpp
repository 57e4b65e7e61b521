#include <cstdint>
#include <vector>

#include "base/console.h"
#include "base/keyboard.h"
#include "cluster/algorithms.h"
#include "cluster/nearest.h"

namespace kmeans {

// Rows the adaptive pass takes at a call when they are held in memory: the
// spinner's turn, so that the progress shown is each_row()'s.
constexpr std::int64_t adaptive_run_rows = 64;

// A pass over the rows of `d` in runs of consecutive rows, for a search that
// takes many rows at a call: on_rows(first, count, values) for rows first ..
// first + count - 1. Rows held in memory come in runs of adaptive_run_rows,
// each after a poll for cancellation and the spinner's turn, as each_row()
// shows them; rows read again from the file come one at a time through
// each_row(). Returns the failure of a file that changed.
template <class OnRows>
[[nodiscard]] static Failure each_run(const Levels& l, DataFile& d, OnRows&& on_rows) {
    if (!rows_in_memory(d))
        return each_row(l, d, SpinFrom::start, [&](std::int64_t r, const float* x) { on_rows(r, 1, x); });
    d.spinner = Spinner{};
    for (std::int64_t r = 0; r < d.N; r += adaptive_run_rows) {
        poll_cancel();
        spin(l, d.spinner);  // spinner_due(r): r is a multiple of 64
        const std::int64_t n = d.N - r < adaptive_run_rows ? d.N - r : adaptive_run_rows;
        on_rows(r, n, d.table.values + static_cast<std::size_t>(r) * static_cast<std::size_t>(d.nvars));
    }
    return Failure{};
}

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
            f = each_run(p.levels, data, [&](std::int64_t r, std::int64_t n, const float* x) {
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
