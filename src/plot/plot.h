// The picture of a clustering: a scatter-plot matrix of up to four
// variables, one dot per (sampled) row coloured by its cluster, one labelled
// cross per centre, a legend with the row count of every cluster and a title.
// Built from plain values into SVG text; no file is read or written here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmeans {

// The most variables one picture shows.
constexpr int plot_max_vars = 4;

// Everything the picture shows. Variables are the shown ones, in order:
// "value j" below means the value of variable vars[j].
struct PlotInput {
    std::string title;               // first part of the title line (file name, mode)
    std::vector<int> vars;           // 1-based numbers of the shown variables (1 to 4 of them)
    std::vector<std::string> names;  // the names of all the file's variables from its header line (none without one)
    std::vector<double> lo, hi;      // per shown variable: the range of its axis
    // The drawn rows: values[r * vars.size() + j] is value j of drawn row r,
    // cluster[r] its cluster number (1 to K, or -1 for none), and row[r] its
    // 0-based row number in the data file.
    std::vector<float> values;
    std::vector<int> cluster;
    std::vector<std::int64_t> row;
    // The K centres: centres[k * vars.size() + j] is value j of centre k + 1.
    std::vector<float> centres;
    int K = 0;
    // counts[0]: rows without a cluster (-1); counts[k]: rows of cluster k.
    // Always over all rows of the file, drawn or not.
    std::vector<std::int64_t> counts;
    std::int64_t total_rows = 0;     // rows in the data file
};

// Chooses which rows of a file of `total` rows are drawn when at most
// `limit` may be: all of them when total <= limit, else exactly `limit` rows
// spread evenly: row i (0-based) is drawn when floor((i + 1) * limit / total)
// is greater than floor(i * limit / total), so the last row always is. Kept
// as a running remainder, so nothing overflows. Call take() once per row in
// order.
struct RowSampler {
    std::int64_t total = 0;
    std::int64_t limit = 0;
    std::int64_t acc = 0;  // (i * limit) mod total before row i

    // Whether the next row is drawn.
    bool take() {
        if (total <= limit) return true;
        acc += limit;
        if (acc < total) return false;
        acc -= total;
        return true;
    }
};

// The fill colour of cluster `k` (1-based; -1 gives the grey of rows
// without a cluster), as "#rrggbb": ten hues, cycling, so that clusters
// next to each other in number never share one.
const char* cluster_colour(int k);

// The mark of the dots of cluster `k`: clusters 1 to 10 (and -1) circles,
// 11 to 20 squares, 21 to 30 triangles, 31 to 40 diamonds, then circles
// again; so no two of the first 40 clusters share colour and mark.
enum class Mark { circle, square, triangle, diamond };
Mark cluster_mark(int k);

// The whole SVG document for `in`: one panel per pair of shown variables
// (variable i across, variable j up), the diagonal panels naming each
// variable with its range; with one variable a single panel of the value
// against the row number. Dots sit in groups <g class="dots kN"> (kN = the
// cluster number, "knone" for -1), one group per cluster and panel, one
// element per dot in the cluster's mark; every centre mark is a
// <g class="centre kN">, its label placed clear of the other labels and
// centre marks where the panel has room; legend entries are
// <text class="legend kN">N: COUNT rows</text> ("row" for one).
std::string plot_svg(const PlotInput& in);

}  // namespace kmeans
