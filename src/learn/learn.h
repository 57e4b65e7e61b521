// Learn mode: learns centres from every data-file argument in turn.
#pragma once

#include "base/parallel.h"
#include "base/params.h"
#include "cluster/random.h"

namespace kmeans {

// Learns every data-file argument of `p` in order, drawing the random starts
// from `rng`, which runs on from one file to the next; the passes run on
// `workers`. Returns the number of
// used clusters of the last file learned, or status_none_learned when no
// file was learned.
int learn_files(const Params& p, Rng& rng, Workers& workers);

}  // namespace kmeans
