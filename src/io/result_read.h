// A run's files read back by the companion programs (kmeans-plot,
// kmeans-summary): the data file and the centre file through the row reader
// of kmeans, so that they are accepted exactly when kmeans accepts them
// (comments, commas, CR/LF, Ctrl-Z, the empty line that ends the data; a
// data file's header line and its compression, see io/row_stream.h); a
// cluster value file (.KTF) or Recall result (.KMR) as one integer per line.
// Every failure gives a one-line reason naming the file (no line feed).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kmeans {

// The centres of a centre file (.KMC): K rows of nvars values.
struct CentreRows {
    int K = 0;
    int nvars = 0;
    std::vector<float> values;  // values[k * nvars + v]: variable v of centre k + 1
};

// Reads the first row of the data file: its number of values into `nvars`,
// and the names of its header line into `names` (none without one). False
// (with `err`) when it cannot be opened, holds no data rows, or its first
// row is bad.
bool data_width(const std::string& path, int& nvars, std::vector<std::string>& names, std::string& err);

// Reads a centre file: a MaxDist row (its value is not needed), then one row
// per centre, all of one length. A report written with kmeans -D (labelled
// lines) is refused with a reason that says so.
bool read_centres(const std::string& path, CentreRows& c, std::string& err);

// Rows per cluster in a cluster value file: counts[0] for -1, counts[k]
// for cluster k (1 to K).
struct LabelCounts {
    std::int64_t lines = 0;  // cluster numbers in the file
    std::vector<std::int64_t> counts;
};

// Reads every cluster number of `path` and counts them. Each must lie between
// 1 and K, the number of centres in `centre_path` (named in the reason); with
// `recall` -1 (no cluster) is allowed too, and a first line holding
// "MaxDist:" (the header kmeans -D writes) is passed over.
bool count_labels(const std::string& path, int K, const std::string& centre_path, bool recall, LabelCounts& lc,
                  std::string& err);

// Reads the data file and the cluster value file side by side, row i with
// line i, and calls on_row(i, values, k) for every row: its values (as many
// as the first row holds) and its cluster number k (1 to K, or -1 with
// `recall`). `total` is the number of cluster numbers that count_labels
// found; a data file with another number of rows (the rows past `total`
// are counted, not delivered), with a bad row, or a value file that no
// longer holds what count_labels found is refused (false, with `err`).
bool each_labelled_row(const std::string& data_path, const std::string& label_path, bool recall, int K,
                       std::int64_t total, const std::function<void(std::int64_t, const float*, int)>& on_row,
                       std::string& err);

}  // namespace kmeans
