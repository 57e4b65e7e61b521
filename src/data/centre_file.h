// The cluster-centre file (.KMC): its lines as Learn mode writes them, and
// its reading in Recall mode.
#pragma once

#include "cli/params.h"
#include "cluster/centres.h"
#include "data/result_file.h"

// "mdist:%-12.6G no:%-5d totd:%-12.6G\n" (debug level only).
void centre_file_mdist(ResultFile& f, double mdist, int npairs, float totd);

// The MaxDist line: "%-10.4G\n", or "MaxDist:%-10.4G\n" at debug level.
void centre_file_maxdist(const Params& p, ResultFile& f, float maxdist);

// One centre line: at debug level "Counts=%-6ld " first; each value as
// "%-12.6G " ("k[%d][%d]=%-12.6G " at debug level 2); then "\n".
void centre_file_centre(const Params& p, ResultFile& f, int k, long count, const float* centre, int nvars);
