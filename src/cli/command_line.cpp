#include "cli/command_line.h"

#include "base/format.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace kmeans {

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

Question question_asked(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--help") return Question::help;
        if (arg == "--version") return Question::version;
    }
    return Question::none;
}

CommandLine read_command_line(Params& p, const std::vector<std::string>& args, const char* const* envp) {
    CommandLine cl;
    cl.question = question_asked(args);
    if (cl.question != Question::none) return cl;  // no switch is read, no pattern expanded
    ArgWalk walk = walk_args(p, args);
    cl.walk_messages = std::move(walk.messages);
    append_environment(p, envp);
    cl.env_line = switch_present(p.invocation.switches, 'D');
    // The quiet level comes first: it already governs the banner.
    p.levels.quiet = switch_level(p.invocation.switches, 'Q');
    cl.no_data_file = p.invocation.data_files.empty();
    cl.help = walk.second_centre || cl.no_data_file;
    cl.options_line = p.invocation.switches.find('?') != std::string::npos;
    if (cl.help) return cl;  // the other switches are not looked at
    cl.unknown = unknown_characters(p.invocation.switches);
    cl.check = evaluate_switches(p);
    evaluate_seed(p, environment_value(envp, seed_variable), cl.check);
    evaluate_starts(p, environment_value(envp, init_variable), environment_value(envp, restarts_variable), cl.check);
    evaluate_resources(p, environment_value(envp, threads_variable), environment_value(envp, memory_variable),
                       environment_value(envp, kernel_variable), cl.check);
    evaluate_prune(p, environment_value(envp, prune_variable), cl.check);
    // Where rows beyond the memory budget go: never refused (a place that
    // takes no file only sends the rows back to the data file).
    if (const char* spill = environment_value(envp, spill_variable); spill && *spill) p.resources.spill_dir = spill;
    if (const char* tmp = environment_value(envp, "TMPDIR"); tmp && *tmp) p.resources.tmp_dir = tmp;
    return cl;
}

}  // namespace kmeans
