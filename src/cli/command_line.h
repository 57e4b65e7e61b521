// The command line and the environment, collected and checked into the run
// parameters before anything is shown or done.
#pragma once

#include <string>
#include <vector>

#include "base/params.h"
#include "cli/switches.h"

namespace kmeans {

// An argument that asks for an answer instead of a run.
enum class Question { none, help, version };

// The question asked by the first argument that is exactly "--help" or
// "--version", none when no argument is.
Question question_asked(const std::vector<std::string>& args);

// What start-up has to show and decide, in the order it is shown.
struct CommandLine {
    Question question = Question::none;  // answered alone, on standard output, with status 0
    std::vector<std::string> walk_messages;  // lines of the argument walk
    bool env_line = false;       // the switch string holds 'D': "env:(%s) sw:(%s)\n"
    bool help = false;           // the help screen ends the run
    bool options_line = false;   // the switch string holds '?': the help screen's line on -Q, -T, -D, -C
    bool no_data_file = false;   // no data-file argument: the help screen's PANIC line
    std::vector<std::string> unknown;  // one INFO line per unknown switch character
    SwitchCheck check;           // switch INFO lines, then the first refusal
};

// The executable's file name without directory and extension. `argv0` is
// used only when the running executable's path cannot be read.
std::string program_base_name(const char* argv0);

// Fills `p` from `args` (the program's own name excluded) and the
// environment `envp` (p.invocation.program must be set). When an argument
// asks a question (question_asked), only that is noted: nothing else is
// read and `p` stays as it was. Otherwise walks the arguments, appends
// the environment value, reads the quiet level, and, unless the help screen
// is due, lists the unknown switch characters, evaluates every other switch
// and then the variables KMEANS_SEED, KMEANS_INIT and KMEANS_RESTARTS, the
// resource variables, KMEANS_PRUNE and the spill place. Every switch and every variable
// is read here.
CommandLine read_command_line(Params& p, const std::vector<std::string>& args, const char* const* envp);

}  // namespace kmeans
