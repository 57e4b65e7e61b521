// Everything that belongs to the data file in work in Learn mode, and the
// steps that learn it after the algorithm: the assignment pass, the
// statistics with the centre file, the final pass with the cluster value
// file, the overlap count. The driver (learn.cpp) calls them in that order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/centres.h"
#include "base/failure.h"
#include "base/params.h"
#include "cluster/prune.h"
#include "io/data_file.h"
#include "io/ranges.h"
#include "io/result_file.h"

namespace kmeans {

// Created for each data file and dropped after its results are committed.
struct LearnFile {
    DataFile data;
    ResultFile centre_file;             // .KMC
    ResultFile value_file;              // .KTF
    Ranges ranges;
    Centres clust;
    std::vector<std::int32_t> clustno;  // one 0-based cluster index per row
    float MaxDist = maxdist_unset;      // working MaxDist (AKMDI only)
    std::vector<std::int32_t> counts;   // rows per cluster after the assignment pass
    int nused = 0;                      // clusters with rows
    std::vector<std::int32_t> renumber; // per cluster of the assignment: its number among the used ones
    float mdist = 0.0f;                 // mean centre distance (debug level)
    Pruning pruning;                    // SKM's bounds after its last pass (one start), for the assignment pass
};

// Assigns every row to its nearest opened centre, fills f.counts, moves the
// clusters that received rows to the front of the table (keeping their order)
// and sets f.nused to their number. With SKM's bounds in f.pruning (every
// centre opened), the pass is one more pruned pass from the winners in
// f.clustno: the same winners. f.pruning is emptied.
[[nodiscard]] Failure assignment_pass(const Params& p, LearnFile& f);

// The mean distance between the used centres (debug level), the used-cluster
// count (switch U) and the centre file's lines. A used centre or a working
// MaxDist beyond the single-precision range ends the run first with
// "\nPANIC: Values too large for single precision: %s\n\n" (the data file)
// and status 5. Returns the failure of a centre file that could not be
// written.
[[nodiscard]] Failure statistics_and_centres(const Params& p, LearnFile& f);

// Assigns every row again among the used clusters, into clustno and the
// cluster value file. No row needs a search: the nearest centre of a row is
// used (it has the row), so it is the nearest among the used ones too, the
// lowest of them at that distance as it was the lowest of all; the search
// among the used centres would find it, under its new number.
[[nodiscard]] Failure final_pass(const Params& p, LearnFile& f);

// Counts (row, other cluster) pairs within half the mean centre distance and
// writes the count to the console and the centre file (debug level).
[[nodiscard]] Failure overlap_count(const Params& p, LearnFile& f);

}  // namespace kmeans
