#include "app/startup.h"

#include <cstdio>

#include "base/console.h"
#include "base/registry.h"
#include "cli/command_line.h"
#include "cli/help.h"

namespace kmeans {

static void write_lines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) std::fwrite(line.data(), 1, line.size(), stderr);
}

void start_up(Params& p, const ClockReading& start, int argc, char** argv, const char* const* envp) {
    p.invocation.program = program_base_name(argc > 0 ? argv[0] : nullptr);
    p.invocation.start_time = start.rounded;

    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const CommandLine cl = read_command_line(p, args, envp);
    if (cl.question != Question::none) {
        if (cl.question == Question::help) write_long_help(p.invocation);
        else write_version(p.invocation);
        finish_run(0);
    }
    write_lines(cl.walk_messages);
    if (cl.env_line) emit(stdout, "env:(%s) sw:(%s)\n", p.invocation.env_value.c_str(), p.invocation.switches.c_str());
    if (shown(p.levels, Show::quiet_lt3)) write_banner(p.invocation);
    if (cl.help) {
        write_help(stderr, p.invocation, cl.no_data_file, cl.options_line);
        finish(1);
    }

    write_lines(cl.unknown);
    registry.params = &p;  // from here on the clean-up follows the debug level
    write_lines(cl.check.infos);
    if (cl.check.status != 0) panic(cl.check.status, "%s", cl.check.refusal.c_str());
}

}  // namespace kmeans
