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

// The value of the environment entry named exactly `name`, or nullptr.
static const char* env_value(const char* const* envp, const char* name) {
    const std::size_t len = std::strlen(name);
    for (; envp && *envp; ++envp)
        if (std::strncmp(*envp, name, len) == 0 && (*envp)[len] == '=') return *envp + len + 1;
    return nullptr;
}

// Reads `text` as a whole decimal number from `lo` to `hi`; false when it is
// anything else.
static bool whole_number(const char* text, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
    std::int64_t v = 0;
    const char* s = text;
    if (*s == '\0') return false;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
        v = v * 10 + (*s - '0');
        if (v > hi) return false;
    }
    if (v < lo) return false;
    out = v;
    return true;
}

std::string read_resource_environment(Params& p, const char* const* envp) {
    std::int64_t v = 0;
    if (const char* t = env_value(envp, "KMEANS_THREADS")) {
        if (!whole_number(t, 1, max_threads, v))
            return format("PANIC: KMEANS_THREADS must be a whole number from 1 to %d: Value=%s\n", max_threads, t);
        p.threads = static_cast<int>(v);
    }
    if (const char* t = env_value(envp, "KMEANS_MEMORY")) {
        if (!whole_number(t, 0, std::int64_t{1} << 40, v))
            return format("PANIC: KMEANS_MEMORY must be a whole number of megabytes: Value=%s\n", t);
        p.memory_mb = v;
    }
    return "";
}

CommandLine read_command_line(Params& p, const std::vector<std::string>& args, const char* const* envp) {
    CommandLine cl;
    ArgWalk walk = walk_args(p, args);
    cl.walk_messages = std::move(walk.messages);
    append_environment(p, envp);
    cl.env_line = switch_present(p.switches, 'D');
    // The quiet level comes first: it already governs the banner.
    p.quiet = switch_level(p.switches, 'Q');
    cl.no_data_file = p.data_files.empty();
    cl.help = walk.second_centre || cl.no_data_file;
    if (cl.help) return cl;  // the other switches are not looked at
    cl.unknown = unknown_characters(p.switches);
    cl.check = evaluate_switches(p);
    if (cl.check.status == 0) {
        std::string refusal = read_resource_environment(p, envp);
        if (!refusal.empty()) {
            cl.check.status = 4;
            cl.check.refusal = refusal;
        }
    }
    return cl;
}

}  // namespace kmeans
