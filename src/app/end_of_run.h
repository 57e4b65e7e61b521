// The end of a run: the maker's notice, the stopwatch and the exit status.
#pragma once

#include "base/params.h"

namespace kmeans {

// Shows the notice (switch C, or by chance) and the elapsed time (switch T),
// then ends the program with the run's status (`last_nused` as learn_files
// returns it), or on a failed write of standard output or error
// (finish_run).
[[noreturn]] void end_run(const Params& p, int last_nused);

}  // namespace kmeans
