#include "cli/startup.h"

#include <climits>
#include <cstdio>
#include <unistd.h>

#include "cli/cleanup.h"
#include "cli/clock.h"
#include "cli/console.h"
#include "cli/help.h"
#include "cli/switches.h"

std::string program_base_name(const char* argv0) {
    std::string path;
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n > 0) path.assign(buf, static_cast<std::size_t>(n));
    else if (argv0) path = argv0;
    std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.substr(0, name.find('.'));
}

static void write_lines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) std::fwrite(line.data(), 1, line.size(), stderr);
}

void start_up(Params& p, int argc, char** argv, const char* const* envp) {
    p.progname = program_base_name(argc > 0 ? argv[0] : nullptr);
    p.start_time = now_seconds();

    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    ArgWalk walk = walk_args(p, args);
    write_lines(walk.messages);

    append_environment(p, envp);
    if (switch_present(p.switches, 'D'))
        emit(stdout, "env:(%s) sw:(%s)\n", p.env_value.c_str(), p.switches.c_str());

    p.quiet = switch_level(p.switches, 'Q');
    if (shown(p, Show::quiet_lt3)) write_banner(p);
    if (walk.second_centre || p.data_files.empty()) {
        write_help(p, p.data_files.empty());
        finish(1);
    }

    write_lines(unknown_characters(p.switches));
    SwitchCheck check = evaluate_switches(p);
    registry.debug = p.debug;
    write_lines(check.infos);
    if (check.status != 0) panic(check.status, "%s", check.refusal.c_str());
}
