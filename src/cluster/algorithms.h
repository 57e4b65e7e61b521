// The three learning algorithms. Each runs exactly p.clustering.iterations
// iterations over the rows of `data` and leaves the learned centres in
// `clust` and the last iteration's assignment (0-based cluster per row, N
// entries) in `clustno`. Each returns the failure of a data file that
// changed while it was read again, and no failure otherwise.
#pragma once

#include <cstdint>
#include <vector>

#include "base/centres.h"
#include "base/failure.h"
#include "base/keyboard.h"
#include "base/params.h"
#include "cluster/prune.h"
#include "io/data_file.h"

namespace kmeans {

// Standard (batch) K-means: assign every row, then move every centre to the
// mean of its rows. With `keep`, the bounds of the pruned passes (prune.h)
// are moved there at the end (keep->bounds.on where there were any), ready
// for one more pass over the learned centres with the winners in clustno.
[[nodiscard]] Failure run_skm(const Params& p, DataFile& data, Centres& clust, std::vector<std::int32_t>& clustno,
                              Pruning* keep = nullptr);

// Adaptive K-means: every row pulls its nearest centre towards itself by
// Alpha, which is multiplied by ItParam after each iteration.
[[nodiscard]] Failure run_akm(const Params& p, DataFile& data, Centres& clust, std::vector<std::int32_t>& clustno);

// Adaptive K-means with dynamic initialization: a row farther than `maxdist`
// from every centre in use opens a new cluster while free slots remain.
// `opened` is the 1-based number of the slot opened last, shown by the
// progress display; it runs on from one data file to the next.
[[nodiscard]] Failure run_akmdi(const Params& p, DataFile& data, Centres& clust, std::vector<std::int32_t>& clustno, float maxdist,
               int& opened);

// Rows a later pass hands over at a time when they are held in memory (the
// spinner turns at rows 0, 64, 128...).
constexpr std::int64_t run_rows = 64;

// A later pass over the rows of `d` in runs of consecutive rows, for a
// search that takes many rows at a call: on_rows(first, count, values,
// progressed) for rows first .. first + count - 1, in file order. Rows held
// in memory come in runs of run_rows, each after one poll for cancellation,
// and `progressed` is false: on_rows calls progress(r) for each row r, in
// order, before any change of its own that progress shows. Rows read again
// from the file come one at a time through each_row_with(), which has
// called progress(r) (`progressed` true). Returns the failure of a file
// that changed.
template <class Progress, class OnRows>
[[nodiscard]] Failure each_run_with(DataFile& d, Progress&& progress, OnRows&& on_rows) {
    if (!rows_in_memory(d))
        return each_row_with(d, progress, [&](std::int64_t r, const float* x) { on_rows(r, 1, x, true); });
    const std::size_t nvars = static_cast<std::size_t>(d.nvars);
    for (std::int64_t r = 0; r < d.N; r += run_rows) {
        poll_cancel();
        on_rows(r, d.N - r < run_rows ? d.N - r : run_rows, d.table.values + static_cast<std::size_t>(r) * nvars,
                false);
    }
    return Failure{};
}

// The AKM move of centre `c` towards row `x`: c + alpha * (x - c) in double,
// rounded to float, for each of the `nvars` values.
inline void pull_centre(float* c, const float* x, int nvars, float alpha) {
    for (int v = 0; v < nvars; ++v) {
        double cv = c[v];
        c[v] = static_cast<float>(cv + static_cast<double>(alpha) * (static_cast<double>(x[v]) - cv));
    }
}

// Alpha times ItParam in double, rounded to float.
inline float next_alpha(float alpha, float itparam) {
    return static_cast<float>(static_cast<double>(alpha) * static_cast<double>(itparam));
}

// "\nVARNING: Cluster %d is isolated.\n" for the 0-based cluster `k`, below
// quiet level 3.
void warn_isolated(const Levels& l, int k);

// The rows per cluster: count[k] becomes the number of entries of `clustno`
// equal to k, for every k of `count` (each entry of clustno must name one).
void count_rows(const std::vector<std::int32_t>& clustno, std::vector<std::uint32_t>& count);

// Reports the rows per cluster `count` (clust.K entries) after a pass,
// changing nothing: at debug level 2 a line per cluster with rows
// ("Counts:" for AKMDI slots when `slot_label`, else "Antal:") and its
// centre; for a cluster without rows the isolation warning.
void report_counts(const Levels& l, const Centres& clust, const std::vector<std::uint32_t>& count, bool slot_label);

}  // namespace kmeans
