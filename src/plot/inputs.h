// The rows kmeans-plot draws, read with the data file's cluster numbers
// (io/result_read.h reads the files of one clustering).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/result_read.h"
#include "plot/plot.h"

namespace kmeans {

// Reads the data file and the cluster value file side by side, row i with
// line i, and keeps the rows that RowSampler{total, limit} draws: their values
// of the variables in.vars, their cluster and row number go to in.values,
// in.cluster and in.row. in.lo and in.hi get the range of every shown
// variable over all rows. `total` is the number of cluster numbers that
// count_labels found; a data file with another number of rows, or with a bad
// row, is refused. in.vars must name variables the rows hold, and in.K the
// number of centres.
bool sample_rows(const std::string& data_path, const std::string& label_path, bool recall, std::int64_t total,
                 std::int64_t limit, PlotInput& in, std::string& err);

}  // namespace kmeans
