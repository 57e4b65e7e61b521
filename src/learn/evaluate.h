// After learning: the assignment of rows to clusters, the statistics, the
// centre file, the cluster value file and the overlap count.
#pragma once

#include "base/params.h"
#include "learn/learn_file.h"

namespace kmeans {

// Assigns every row to its nearest opened centre, fills f.counts, moves the
// clusters that received rows to the front of the table (keeping their order)
// and sets f.nused to their number.
void assignment_pass(const Params& p, LearnFile& f);

// The mean distance between the used centres (debug level), the used-cluster
// count (switch U) and the centre file's lines. A used centre or a working
// MaxDist beyond the single-precision range ends the run first with
// "\nPANIC: Values too large for single precision: %s\n\n" (the data file)
// and status 5.
void statistics_and_centres(const Params& p, LearnFile& f);

// Assigns every row again among the used clusters, into clustno and the
// cluster value file.
void final_pass(const Params& p, LearnFile& f);

// Counts (row, other cluster) pairs within half the mean centre distance and
// writes the count to the console and the centre file (debug level).
void overlap_count(const Params& p, LearnFile& f);

// The whole sequence above, in order, for the data file in work.
void evaluate(const Params& p, LearnFile& f);

}  // namespace kmeans
