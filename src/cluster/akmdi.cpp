#include <cfloat>
#include <cstdint>
#include <vector>

#include "cli/keyboard.h"
#include "cluster/algorithms.h"
#include "cluster/nearest.h"

// The progress display of AKMDI: every 120 rows the number of the slot opened
// last and the spinner, where the iteration header left four blanks.
static void show_opened(const Params& p, Spinner& s, int opened) {
    if (p.quiet != 0) return;
    emit(stderr, "\b\b\b\b%03d%c", opened, spinner_char(s));
}

void run_akmdi(Run& run, LearnFile& f) {
    const Params& p = run.p;
    const int K = f.clust.K;
    const int nvars = f.data.nvars;
    float alpha = p.Alpha;
    std::vector<std::uint32_t> count(static_cast<std::size_t>(K), 0u);
    bool last_slot = false;
    auto in_use = [&](int k) { return count[static_cast<std::size_t>(k)] != 0; };

    say(p, Show::quiet_lt2, stderr, "Adaptive K-means algorithm with dynamic initialization.\n");
    for (int it = 1; it <= p.R; ++it) {
        say(p, Show::quiet_lt2, stderr, "\nIteration:%-3d Alpha:%-10.6G    ", it, static_cast<double>(alpha));
        f.spinner = Spinner{};
        auto progress = [&](std::int64_t r) {
            if (r % 120 == 0) {
                show_opened(p, f.spinner, run.opened);
                if (p.quiet == 0) ++f.spinner.pos;
            } else if ((r & 63) == 0) {
                spin(p, f.spinner);
            }
        };
        each_row_with(f.data, progress, [&](std::int64_t r) {
            float best;
            int w = nearest(f.clust, f.data.row, nvars, K, p.cityblock, best, in_use);
            // A row opens a slot when it lies farther than MaxDist from every
            // centre in use; with no slot in use at all (the first row, which
            // MaxDist cannot exceed when MaxDist is infinite) it opens one
            // too, so every row has a slot.
            bool open = w < 0 || (!last_slot && best > f.MaxDist);
            if (open) {
                int j = 0;
                while (j < K - 1 && in_use(j)) ++j;
                if (j == K - 1) last_slot = true;
                std::copy(f.data.row, f.data.row + nvars, f.clust.row(j));
                w = j;
                ++count[static_cast<std::size_t>(j)];
                run.opened = j + 1;
            } else {
                pull_centre(f.clust.row(w), f.data.row, nvars, alpha);
            }
            f.clustno[static_cast<std::size_t>(r)] = w;
        });
        alpha = next_alpha(alpha, p.ItParam);
        show_opened(p, f.spinner, run.opened);
        say(p, Show::debug2, stdout, "\n");
        report_counts(p, f, count, true);
    }
}
