#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/console.h"
#include "cluster/algorithms.h"
#include "cluster/nearest.h"

namespace kmeans {

// The progress display of AKMDI: the number of the slot opened last and the
// spinner's character, where the iteration header left four blanks. Does not
// advance the spinner.
static void show_opened(const Levels& l, const Spinner& s, int opened) {
    say(l, Show::quiet0, stderr, "\b\b\b\b%03d%c", opened, spinner_char(s));
}

Failure run_akmdi(const Params& p, DataFile& data, Centres& clust, std::vector<std::int32_t>& clustno, float maxdist,
               int& opened) {
    const int K = clust.K;
    const int nvars = data.nvars;
    float alpha = p.clustering.rate;
    // The rows of each slot in the last pass (raised by one when a row opens
    // it): a slot is in use while its count is not 0, and only slots in use
    // take part in the search. A slot whose centre still holds the marker was
    // never opened (never_opened); one that fell out of use keeps its centre.
    std::vector<std::uint32_t> count(static_cast<std::size_t>(K), 0u);
    bool last_slot = false;
    auto in_use = [&](int k) { return count[static_cast<std::size_t>(k)] != 0; };
    // The slots in use as the search reads them, laid out once per pass; a
    // slot a row moves or opens is laid out again after it.
    CentreSet set;

    say(p.levels, Show::quiet_lt2, stderr, "Adaptive K-means algorithm with dynamic initialization.\n");
    for (int it = 1; it <= p.clustering.iterations; ++it) {
        say(p.levels, Show::quiet_lt2, stderr, "\nIteration:%-3d Alpha:%-10.6G    ", it, static_cast<double>(alpha));
        data.spinner = Spinner{};
        // Every 120 rows the opened-slot display takes the place of the
        // plain turn, and advances the spinner like it.
        auto progress = [&](std::int64_t r) {
            if (r % 120 == 0) {
                if (!shown(p.levels, Show::quiet0)) return;
                show_opened(p.levels, data.spinner, opened);
                ++data.spinner.pos;
            } else if (spinner_due(r)) {
                spin(p.levels, data.spinner);
            }
        };
        centres_prepare(set, clust, nvars, K, p.clustering.cityblock, p.resources.kernel, in_use);
        // The slot a row opens: the first not in use (the last one ends
        // the opening).
        auto open_slot = [&]() {
            int j = 0;
            while (j < K - 1 && in_use(j)) ++j;
            if (j == K - 1) last_slot = true;
            ++count[static_cast<std::size_t>(j)];
            opened = j + 1;
            return j;
        };
        Failure f;
        if (adaptive_pass_runs(set)) {
            // The adaptive pass stops before a row that opens a slot: one
            // farther than MaxDist from every centre in use, while slots
            // remain; with no slot in use it is not called at all.
            AdaptivePass a = adaptive_begin(set, clust, alpha, p.resources.kernel);
            adaptive_stop_beyond(a, !last_slot, maxdist);
            f = each_run_with(data, progress, [&](std::int64_t r, std::int64_t n, const float* x, bool progressed) {
                std::int64_t i = 0;
                while (i < n) {
                    const std::int64_t done =
                        a.first < 0 ? 0
                                    : static_cast<std::int64_t>(adaptive_rows(
                                          a, x + static_cast<std::size_t>(i) * static_cast<std::size_t>(nvars),
                                          static_cast<std::size_t>(n - i), &clustno[static_cast<std::size_t>(r + i)]));
                    if (!progressed)  // the rows taken and the one that opens a slot, before it does
                        for (std::int64_t j = i; j < i + done + (i + done < n ? 1 : 0); ++j) progress(r + j);
                    i += done;
                    if (i == n) break;
                    const float* row = x + static_cast<std::size_t>(i) * static_cast<std::size_t>(nvars);
                    const int j = open_slot();
                    adaptive_open(a, set, clust, j, row);
                    if (last_slot) adaptive_stop_beyond(a, false, maxdist);
                    clustno[static_cast<std::size_t>(r + i)] = j;
                    ++i;
                }
            });
            if (!failed(f)) adaptive_end(a);
        } else {
            f = each_row_with(data, progress, [&](std::int64_t r, const float* x) {
                std::int32_t w;
                float best;
                nearest_rows(set, x, 1, nvars, &w, &best);
                // A row opens a slot when it lies farther than MaxDist from
                // every centre in use; with no slot in use at all (the first
                // row, which MaxDist cannot exceed when MaxDist is infinite)
                // it opens one too, so every row has a slot.
                if (w < 0 || (!last_slot && best > maxdist)) {
                    w = open_slot();
                    std::copy(x, x + nvars, clust.row(w));
                    centres_update(set, clust, w, true);
                } else {
                    centres_pull(set, clust, w, x, alpha);
                }
                clustno[static_cast<std::size_t>(r)] = w;
            });
        }
        if (failed(f)) return f;
        alpha = next_alpha(alpha, p.clustering.rate_factor);
        show_opened(p.levels, data.spinner, opened);
        say(p.levels, Show::debug2, stdout, "\n");
        count_rows(clustno, count);  // the slots in use in the next pass
        report_counts(p.levels, clust, count, true);
    }
    return Failure{};
}

}  // namespace kmeans
