// The cluster-centre file (.KMC): every line Learn mode writes to it, and its
// reading in Recall mode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/centres.h"
#include "base/params.h"
#include "io/result_file.h"

namespace kmeans {

// The first line at debug level: "mdist:%-12.6G no:%-5d totd:%-12.6G\n".
void centre_file_mdist(ResultFile& f, double mdist, int npairs, float totd);

// The MaxDist line ("%-10.4G\n", or "MaxDist:%-10.4G\n" at debug level),
// then one line per cluster 0..nused-1, polling for cancellation before
// each: at debug level "Counts=%-6ld " with its entry of `counts` first; each
// value as "%-12.6G " ("k[%d][%d]=%-12.6G " at debug level 2); then "\n".
void centre_file_centres(const Levels& l, ResultFile& f, float maxdist, const Centres& clust,
                         const std::vector<std::int32_t>& counts, int nused);

// The last line at debug level: "No.of overlaps (at mdist/2): %ld\n".
void centre_file_overlaps(ResultFile& f, long overlaps);

// Whether `line` is one of the labelled lines of a centre file written at
// debug level (a report for reading, which the row reader refuses).
bool report_line(const std::string& line);

// Centres read back from a centre file.
struct StoredCentres {
    Centres clust;          // one row per centre line, in file order
    int count = 0;          // number of centres
    float MaxDist = 0.0f;   // beyond it a row gets no cluster
};

// Reads the centre file p.invocation.centre_file: its first row is MaxDist
// (switch M, when given, takes its place, with its lines), every later row a
// centre; reports the count below quiet level 2. Returns an open failure
// when the file cannot be opened; a centre_row failure for a row the reader
// rejects (its reason, and a hint when the row is a label of a report
// written with switch D; a row of another length has had its "\nstr:" line
// written at once); centre_count for more than max_clusters centres;
// no_centres for none; a memory failure for the table.
[[nodiscard]] Failure read_centre_file(const Params& p, StoredCentres& s);

}  // namespace kmeans
