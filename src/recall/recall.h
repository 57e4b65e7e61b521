// Recall mode: classifies every data-file argument with stored centres.
#pragma once

#include "base/parallel.h"
#include "base/params.h"

namespace kmeans {

// Reads the centre file p.invocation.centre_file once, then writes a .KMR for every
// data-file argument in order; the passes run on `workers`.
void recall_files(const Params& p, Workers& workers);

}  // namespace kmeans
