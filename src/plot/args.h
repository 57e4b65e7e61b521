// The command line of kmeans-plot: one data file, an optional "+CENTRES"
// (Recall result), and single-letter switches after '-' or '/'.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace kmeans {

// The default and the largest sample limit (switch S).
constexpr std::int64_t plot_default_limit = 20000;
constexpr std::int64_t plot_max_limit = 1000000;

struct PlotArgs {
    Question question = Question::none;  // --help or --version: answered alone, nothing else read
    std::string data;         // the data file as typed
    std::string centres;      // Recall: the centre file (".KMC" added when the name has no '.'); empty for Learn
    std::vector<int> vars;    // -V: 1-based variable numbers (up to four); empty: the first four
    std::int64_t limit = plot_default_limit;  // -S: the most rows drawn
    bool quiet = false;       // -Q: no "Writing file" line
};

// Reads `args` (the program name excluded) into `a`. An argument that is
// exactly "--help" or "--version" (the first of them counts) is noted in
// a.question and nothing else is read. Switch letters are
// case-insensitive and several may share one argument ("-V1,3Q"); for every
// letter the first occurrence counts, and a letter followed by '-' keeps its
// default. An argument starting with '/' is switch text only when it holds no
// further '/' and names no existing file, as in kmeans. Returns "" when the
// command line is usable, else a one-line reason (without a line feed).
std::string parse_plot_args(const std::vector<std::string>& args, PlotArgs& a);

}  // namespace kmeans
