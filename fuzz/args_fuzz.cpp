// Fuzzes the argument and environment walk: the input is split at its first
// pair of NUL bytes into the arguments (before) and the environment (after),
// each a list of NUL-separated entries; read_command_line then does what
// start-up does with them (walk the arguments, append the KMEANS variable,
// read every switch, KMEANS_SEED and the other variables). Wildcard patterns are pointed at a
// scratch directory of known entries, so that the run neither depends on
// nor wanders through the machine's directories.
//
// Checks: the switch string is exactly the switch arguments' text and then
// the variable's value, upper-cased (and so holds no lower-case letter),
// while data-file and centre-file names keep their case; every expanded name
// is a visible file of the directory whose name matches the pattern
// (a model matcher, case ignored), all such files are there, and a pattern
// that matches nothing stays as it is; the refusal status is 0 or 4, with a
// "PANIC: " line exactly when it is 4; accepted values lie in their ranges;
// every message is whole lines; an argument "--help" or "--version" leaves
// everything else unread.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "cli/command_line.h"
#include "cli/switches.h"
#include "reference.h"

namespace kmeans {
namespace {

namespace fs = std::filesystem;

bool starts_with(const std::string& s, const std::string& part) { return s.compare(0, part.size(), part) == 0; }
bool ends_with(const std::string& s, const std::string& part) {
    return s.size() >= part.size() && s.compare(s.size() - part.size(), part.size(), part) == 0;
}

// The scratch directory: a few visible files (names differing only in
// case among them), a hidden file, a directory whose name looks like a data
// file, and a subdirectory with files of its own.
char scratch_path[4096];  // a plain copy of the path, still there when the clean-up at exit runs
void remove_scratch() { fs::remove_all(scratch_path); }

const std::string& scratch() {
    static const std::string dir = [] {
        std::string templ = (fs::temp_directory_path() / "kmeans-fuzz-args-XXXXXX").string();
        require(mkdtemp(templ.data()) != nullptr, "mkdtemp failed");
        fs::create_directory(templ + "/DIR.DAT");
        fs::create_directory(templ + "/sub");
        for (const char* name : {"IRIS.DAT", "iris.dat", "A.B.DAT", "NEW.DAT", ".HIDDEN.DAT", "x", "sub/X.DAT",
                                 "sub/y.kmc", "sub/.h"})
            std::ofstream(templ + "/" + name) << "1\n";
        require(templ.size() < sizeof scratch_path, "scratch path too long");
        std::memcpy(scratch_path, templ.c_str(), templ.size() + 1);
        std::atexit(remove_scratch);
        return templ;
    }();
    return dir;
}

// Upper case as the program defines it: ASCII letters, and three letters of
// code page 437 (0x84, 0x86, 0x94 to 0x8E, 0x8F, 0x99).
std::string upper(std::string s) {
    for (char& c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'a' && u <= 'z') c = static_cast<char>(u - 32);
        else if (u == 0x84) c = static_cast<char>(0x8E);
        else if (u == 0x86) c = static_cast<char>(0x8F);
        else if (u == 0x94) c = static_cast<char>(0x99);
    }
    return s;
}

bool has_lower(const std::string& s) {
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || u == 0x84 || u == 0x86 || u == 0x94) return true;
    }
    return false;
}

// '*' any run, '?' any one character, anything else itself with ASCII case
// ignored; by dynamic programming over prefixes.
bool model_match(const std::string& pattern, const std::string& name) {
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    std::vector<char> row(name.size() + 1, 0), next(name.size() + 1);
    row[0] = 1;
    for (char pc : pattern) {
        next.assign(name.size() + 1, 0);
        if (pc == '*') {
            char any = 0;
            for (std::size_t j = 0; j <= name.size(); ++j) next[j] = any = any | row[j];
        } else {
            for (std::size_t j = 1; j <= name.size(); ++j)
                next[j] = row[j - 1] && (pc == '?' || fold(pc) == fold(name[j - 1]));
        }
        row.swap(next);
    }
    return row[name.size()] != 0;
}

bool is_wildcard(const std::string& arg) { return arg.find_first_of("*?") != std::string::npos; }

// Whether the walk takes `arg` for switch text: "-..." always, "/..." when
// it holds no further '/' and names nothing.
bool is_switch(const std::string& arg) {
    if (arg.empty()) return false;
    if (arg[0] == '-') return true;
    struct stat st;
    return arg[0] == '/' && arg.find('/', 1) == std::string::npos && stat(arg.c_str(), &st) != 0;
}

// Points a data-file pattern at the scratch directory (or its "sub").
std::string aim_pattern(const std::string& arg) {
    const std::size_t slash = arg.rfind('/');
    if (slash == std::string::npos) return scratch() + "/" + arg;
    const std::string dir = arg.substr(0, slash);
    return scratch() + (dir == "sub" ? "/sub/" : "/") + arg.substr(slash + 1);
}

// The names a pattern (aimed at the scratch directory) expands to, in some
// order: every visible file whose name matches it, and with no entry
// matching at all (hidden ones and directories included) the pattern itself.
std::vector<std::string> model_expansion(const std::string& pattern) {
    const std::size_t slash = pattern.rfind('/');
    const std::string dir = pattern.substr(0, slash + 1);
    const std::string last = pattern.substr(slash + 1);
    std::vector<std::string> names;
    bool any = model_match(last, ".") || model_match(last, "..");
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (!model_match(last, name)) continue;
        any = true;
        if (name[0] != '.' && !e.is_directory()) names.push_back(dir + name);
    }
    if (!any) names.push_back(pattern);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        std::size_t nul = s.find('\0', from);
        parts.push_back(s.substr(from, nul - from));
        if (nul == std::string::npos) return parts;
        from = nul + 1;
    }
}

}  // namespace
}  // namespace kmeans

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kmeans;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find(std::string("\0\0", 2));
    std::vector<std::string> args = split(input.substr(0, cut));
    std::vector<std::string> env_entries;
    if (cut != std::string::npos) env_entries = split(input.substr(cut + 2));

    for (std::string& arg : args)
        if (!arg.empty() && arg[0] != '+' && !is_switch(arg) && is_wildcard(arg)) arg = aim_pattern(arg);
    std::vector<const char*> envp;
    for (const std::string& e : env_entries) envp.push_back(e.c_str());
    envp.push_back(nullptr);

    Params p;
    p.invocation.program = "kmeans";
    const CommandLine cl = read_command_line(p, args, envp.data());

    // An argument "--help" or "--version" is answered alone: nothing is read.
    Question asked = Question::none;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "--version") {
            asked = arg == "--help" ? Question::help : Question::version;
            break;
        }
    }
    require(cl.question == asked, "--help or --version noted otherwise than the first of them asks");
    if (asked != Question::none) {
        require(p.invocation.switches.empty() && p.invocation.data_files.empty() && p.invocation.centre_file.empty() &&
                    cl.walk_messages.empty() && !cl.help && cl.check.status == 0,
                "a question is answered with the command line read all the same");
        return 0;
    }

    // The walk, as far as it went: the switch text, the names kept as typed.
    std::string switches;
    std::size_t files = 0;
    bool centre_seen = false;
    bool stopped = false;
    for (const std::string& arg : args) {
        if (is_switch(arg)) {
            switches += upper(arg.substr(1));
        } else if (!arg.empty() && arg[0] == '+') {
            const std::string name = arg.substr(1);
            if (centre_seen) {
                stopped = true;
                break;
            }
            if (name.empty()) continue;
            centre_seen = true;
            const std::string want = name.find('.') == std::string::npos ? name + ".KMC" : name;
            require(p.invocation.centre_file == want, "the centre-file name is not the argument as typed");
        } else if (is_wildcard(arg)) {
            const std::vector<std::string> want = model_expansion(arg);
            require(p.invocation.data_files.size() - files >= want.size(), "a pattern expands to fewer names than the model");
            std::vector<std::string> got(p.invocation.data_files.begin() + static_cast<std::ptrdiff_t>(files),
                                         p.invocation.data_files.begin() + static_cast<std::ptrdiff_t>(files + want.size()));
            std::sort(got.begin(), got.end());
            require(got == want, "a pattern expands otherwise than the model");
            files += want.size();
        } else {
            require(files < p.invocation.data_files.size() && p.invocation.data_files[files] == arg, "a data-file name is not as typed");
            ++files;
        }
    }
    require(files == p.invocation.data_files.size(), "more data files than the arguments give");
    require(cl.help == (stopped || p.invocation.data_files.empty()), "the help screen is due otherwise");
    for (const char* const* e = envp.data(); *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq && eq - *e == 6 && upper(std::string(*e, 6)) == "KMEANS") {
            switches += upper(eq + 1);
            require(p.invocation.env_value == upper(eq + 1), "the environment value is not upper-cased");
            break;
        }
    }
    require(p.invocation.switches == switches, "the switch string is not the upper-cased switch text");
    require(!has_lower(p.invocation.switches), "the switch string holds a lower-case letter");
    for (const std::string& m : cl.walk_messages) require(ends_with(m, "\n"), "a walk message is no whole line");
    require(!stopped || starts_with(cl.walk_messages.back(), "PANIC: Multiple categorycenterfilenames given: "),
            "the walk stopped at a second centre file without its PANIC line");

    if (cl.help) return 0;  // nothing else is read
    for (const std::string& u : cl.unknown)
        require(starts_with(u, "INFO: Unknown character") && ends_with(u, "\n"), "an unknown-character line is malformed");
    for (const std::string& i : cl.check.infos) require(starts_with(i, "INFO: ") && ends_with(i, "\n"), "a bad INFO line");
    const SwitchCheck& c = cl.check;
    require(c.status == 0 || c.status == 4, "refusal status is neither 0 nor 4");
    require((c.status == 4) == starts_with(c.refusal, "PANIC: "), "a refusal without its PANIC line");
    require(c.status == 0 || ends_with(c.refusal, "\n"), "the PANIC line is no whole line");
    if (c.status == 0) {
        require(c.refusal.empty(), "a refusal text with status 0");
        require(p.clustering.clusters >= 2 && p.clustering.clusters <= max_clusters, "K out of range");
        require(p.clustering.iterations >= 1, "R out of range");
        require(p.clustering.rate_factor > 0.0f && p.clustering.rate_factor <= 2.0f, "F out of range");
        require(p.clustering.rate > 0.0f && std::isfinite(p.clustering.rate), "G out of range");
        require(!maxdist_given(p.clustering) || (p.clustering.max_dist > 0.0f && std::isfinite(p.clustering.max_dist)), "M out of range");
        require(p.clustering.algorithm == SKM || p.clustering.algorithm == AKM || p.clustering.algorithm == AKMDI, "unknown algorithm");
        const char* seed = environment_value(envp.data(), seed_variable);
        require(seed == nullptr || p.invocation.seed.has_value(), "KMEANS_SEED accepted but not taken");
        require(p.clustering.restarts >= 1 && p.clustering.restarts <= max_restarts, "KMEANS_RESTARTS out of range");
        const char* init = environment_value(envp.data(), init_variable);
        require(init == nullptr || std::strcmp(init, "random") == 0 || std::strcmp(init, "kmeans++") == 0,
                "KMEANS_INIT accepted with another value");
        require((p.clustering.start == Start::kmeans_pp) == (init != nullptr && std::strcmp(init, "kmeans++") == 0),
                "KMEANS_INIT taken otherwise than it says");
        const char* prune = environment_value(envp.data(), prune_variable);
        require(prune == nullptr || std::strcmp(prune, "on") == 0 || std::strcmp(prune, "off") == 0,
                "KMEANS_PRUNE accepted with another value");
        require(p.resources.prune == (prune == nullptr || std::strcmp(prune, "on") == 0),
                "KMEANS_PRUNE taken otherwise than it says");
    }
    return 0;
}
