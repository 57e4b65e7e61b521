// The three learning algorithms. Each runs exactly R iterations over the data
// file in work and leaves the learned centres in f.clust and the last
// iteration's assignment in f.clustno.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/run.h"
#include "cluster/learn_state.h"

// Standard (batch) K-means: assign every row, then move every centre to the
// mean of its rows.
void run_skm(Run& run, LearnFile& f);

// Adaptive K-means: every row pulls its nearest centre towards itself by
// Alpha, which is multiplied by ItParam after each iteration.
void run_akm(Run& run, LearnFile& f);

// Adaptive K-means with dynamic initialization: a row farther than MaxDist
// from every centre in use opens a new cluster while free slots remain.
void run_akmdi(Run& run, LearnFile& f);

// The AKM move of centre `c` towards row `x`: c + alpha * (x - c) in double,
// rounded to float, for each of the `nvars` values.
inline void pull_centre(float* c, const float* x, int nvars, float alpha) {
    for (int v = 0; v < nvars; ++v) {
        double cv = c[v];
        c[v] = static_cast<float>(cv + static_cast<double>(alpha) * (static_cast<double>(x[v]) - cv));
    }
}

// Counts the rows per cluster from clustno into `count` (K entries) and
// reports them: at debug level 2 a line per cluster with rows ("Counts:" for
// AKMDI slots when `slot_label`, else "Antal:") and its centre; for a
// cluster without rows the isolation warning.
void report_counts(const Params& p, LearnFile& f, std::vector<std::uint32_t>& count, bool slot_label);

// Alpha times ItParam in double, rounded to float.
inline float next_alpha(float alpha, float itparam) {
    return static_cast<float>(static_cast<double>(alpha) * static_cast<double>(itparam));
}
