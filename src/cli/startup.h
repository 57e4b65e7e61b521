// Start-up: the order of the steps that turn the command line into a run.
#pragma once

#include "cli/params.h"
#include "cli/run.h"

// The executable's file name without directory and extension. `argv0` is
// used only when the running executable's path cannot be read.
std::string program_base_name(const char* argv0);

// Walks the arguments and the environment, shows the banner and possibly the
// help screen (which ends the run with status 1), reports unknown switch
// characters and checks every switch (a refusal ends the run with status 4).
void start_up(Params& p, int argc, char** argv, const char* const* envp);
