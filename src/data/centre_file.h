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

// Centres read back from a centre file.
struct StoredCentres {
    Centres clust;          // one row per centre line, in file order
    int count = 0;          // number of centres
    float MaxDist = 0.0f;   // beyond it a row gets no cluster
};

// Reads the centre file p.ClustCFile: its first row is MaxDist (switch M, when
// given, takes its place), every later row a centre. A file that cannot be
// opened ends the run with status 4; one that cannot be used (a row the
// reader rejects, more than max_clusters centres, no centre at all) with a
// PANIC naming it and status 5.
void read_centre_file(const Params& p, StoredCentres& s);
