// The command line of kmeans-summary: one data file, an optional
// "+CENTRES" (a Recall result), and the switches C and B.
#pragma once

#include <string>
#include <vector>

#include "cli/companion_args.h"

namespace kmeans {

struct SummaryArgs {
    CompanionArgs files;     // the data file, the centre file of a Recall, --help or --version
    bool csv = false;        // -C: CSV with a header line
    bool cityblock = false;  // -B: the Cityblock distance, as kmeans -B
};

// Reads `args` (the program name excluded) into `a` as walk_companion_args
// does. Switch letters are case-insensitive and several may share one
// argument ("-CB"); for every letter the first occurrence counts, and a
// letter followed by '-' keeps its default. Returns "" when the command line
// is usable, else a one-line reason (without a line feed).
std::string parse_summary_args(const std::vector<std::string>& args, SummaryArgs& a);

}  // namespace kmeans
