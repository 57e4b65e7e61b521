// The command line of the companion programs (kmeans-plot, kmeans-summary):
// one data file, an optional "+CENTRES" (a Recall result), and switch text
// after '-' or '/' that each program reads itself.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace kmeans {

struct CompanionArgs {
    Question question = Question::none;  // --help or --version: answered alone, nothing else read
    std::string data;                    // the data file as typed
    std::string centres;                 // Recall: the centre file (".KMC" added when the name has no '.'); empty for Learn
};

// Reads `args` (the program name excluded) into `a`. An argument that is
// exactly "--help" or "--version" (the first of them counts) is noted in
// a.question and nothing else is read. Every switch argument goes to
// switches(arg, text) with its text after the '-' or '/', in order; an
// argument starting with '/' is switch text only when it holds no further
// '/' and names no existing file, as in kmeans. Returns "" when the command
// line is usable, else a one-line reason (without a line feed): the first
// that `switches` returns, or one about the file arguments.
std::string walk_companion_args(const std::vector<std::string>& args, CompanionArgs& a,
                                const std::function<std::string(const std::string& arg, const std::string& text)>& switches);

}  // namespace kmeans
