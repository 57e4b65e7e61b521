// The end of a run: the maker's notice, the stopwatch and the exit status.
#pragma once

#include "cli/run.h"

[[noreturn]] void end_run(Run& run);
