// Start-up: the order of the steps that turn the command line into a run.
#pragma once

#include "base/clock.h"
#include "base/params.h"

namespace kmeans {

// Reads the command line and the environment into `p` (start time from
// `start`), then shows what they call for: the answer to --help or
// --version alone (which ends the run with status 0), or else the walk's
// messages, the debug line, the banner, possibly the help screen (which ends
// the run with status 1), the unknown switch characters and the switch INFO
// lines; a refused switch value ends the run with status 4.
void start_up(Params& p, const ClockReading& start, int argc, char** argv, const char* const* envp);

}  // namespace kmeans
