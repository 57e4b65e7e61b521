// kmeans-summary's figures: per cluster the rows, their share, the sum of
// squares and the mean and largest distance of the rows to their centre,
// and the totals, from the rows read with their cluster numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/result_read.h"

namespace kmeans {

// The rows of one cluster and what they add up to.
struct ClusterFigures {
    std::int64_t rows = 0;
    double sse = 0.0;       // sum of the rows' spread_term() to the centre, in file order
    double distances = 0.0; // sum of their distances to the centre, in file order
    double largest = 0.0;   // the largest of those distances
};

struct Summary {
    bool cityblock = false;           // distances and sums as kmeans -B takes them
    bool recall = false;              // a Recall result: rows given -1 are counted apart
    std::int64_t rows = 0;            // every row of the data file
    std::int64_t unassigned = 0;      // rows given -1 (Recall)
    double sse = 0.0;                 // all rows with a cluster, in file order
    double distances = 0.0;
    double largest = 0.0;
    std::vector<ClusterFigures> clusters;  // one per centre of the centre file
};

// An empty summary for the `K` centres of a result.
Summary summary_start(int K, bool cityblock, bool recall);

// Adds the row `x` (`nvars` values, at most c.nvars) of cluster `k` (1 to
// c.K, or -1 for none). A row's term is spread_term() to its centre (in
// double: the squared Euclidean distance, or with cityblock the Cityblock
// distance); its distance is the root of the term (Euclidean) or the term.
void summary_add(Summary& s, const CentreRows& c, const float* x, int nvars, int k);

// The clusters with rows.
int summary_used(const Summary& s);

// The summary as text: a header line, one line per cluster ("cluster rows
// share sum-of-squares mean-distance largest-distance", a cluster without
// rows showing "-" for its distances), then the totals, one a line: rows,
// clusters used of the centres, the total sum of squares and, for a
// Recall, the rows given -1. With cityblock "sum of distances" stands for
// "sum of squares".
std::string summary_text(const Summary& s);

// The same as CSV: the header line "cluster,rows,share,sum_of_squares,
// mean_distance,largest_distance" ("sum_of_distances" with cityblock), a line
// per cluster, for a Recall a line "-1" with the rows given -1 (no sums),
// and a line "total" over the rows with a cluster. Shares are fractions of
// all rows; sums and distances are written with 17 significant digits.
std::string summary_csv(const Summary& s);

}  // namespace kmeans
