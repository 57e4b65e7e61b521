#include "cli/switches.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "base/format.h"
#include "cli/wildcard.h"
#include "cluster/nearest.h"

namespace kmeans {

void upcase(std::string& s) {
    for (char& c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'a' && u <= 'z') u = static_cast<unsigned char>(u - 'a' + 'A');
        else if (u == 0x84) u = 0x8E;
        else if (u == 0x86) u = 0x8F;
        else if (u == 0x94) u = 0x99;
        c = static_cast<char>(u);
    }
}

bool slash_switch(const std::string& arg) {
    if (arg.find('/', 1) != std::string::npos) return false;
    struct stat st;
    return stat(arg.c_str(), &st) != 0;
}

static bool has_wildcard(const std::string& arg) {
    return arg.find_first_of("*?") != std::string::npos;
}

ArgWalk walk_args(Params& p, const std::vector<std::string>& args) {
    ArgWalk walk;
    std::string first_centre;  // the first centre-file argument, without its plus sign
    for (const std::string& arg : args) {
        if (!arg.empty() && (arg[0] == '-' || (arg[0] == '/' && slash_switch(arg)))) {
            std::string text = arg.substr(1);
            upcase(text);
            p.invocation.switches += text;
        } else if (!arg.empty() && arg[0] == '+') {
            std::string name = arg.substr(1);
            if (!p.invocation.centre_file.empty()) {
                walk.messages.push_back(format("PANIC: Multiple categorycenterfilenames given: %s %s\n",
                                               first_centre.c_str(), name.c_str()));
                walk.second_centre = true;
                return walk;
            }
            if (name.empty()) {
                walk.messages.push_back("INFO: No categorycenterfilename given after +.\n");
                continue;
            }
            first_centre = name;
            p.invocation.centre_file = name.find('.') == std::string::npos ? name + ".KMC" : name;
        } else if (has_wildcard(arg)) {
            for (std::string& name : expand_pattern(arg)) p.invocation.data_files.push_back(std::move(name));
        } else {
            p.invocation.data_files.push_back(arg);
        }
    }
    return walk;
}

// Compares the name part of "NAME=value" with `name`, ASCII case ignored.
static bool env_name_is(const char* entry, const std::string& name) {
    const char* eq = std::strchr(entry, '=');
    if (!eq || static_cast<std::size_t>(eq - entry) != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(entry[i]);
        unsigned char b = static_cast<unsigned char>(name[i]);
        if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

void append_environment(Params& p, const char* const* envp) {
    for (; envp && *envp; ++envp) {
        if (env_name_is(*envp, p.invocation.program)) {
            p.invocation.env_value = std::strchr(*envp, '=') + 1;
            upcase(p.invocation.env_value);
            p.invocation.switches += p.invocation.env_value;
            return;
        }
    }
}

const char* environment_value(const char* const* envp, const char* name) {
    const std::size_t len = std::strlen(name);
    for (; envp && *envp; ++envp)
        if (std::strncmp(*envp, name, len) == 0 && (*envp)[len] == '=') return *envp + len + 1;
    return nullptr;
}

// Reads decimal digits only (no sign, no blanks, at least one digit) with a
// value from 0 to `most`. Returns false for anything else.
static bool parse_whole(const char* text, std::uint64_t most, std::uint64_t& out) {
    if (*text == '\0') return false;
    std::uint64_t v = 0;
    for (const char* s = text; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(*s - '0');
        if (v > most) return false;
    }
    out = v;
    return true;
}

bool parse_seed(const char* text, std::uint32_t& seed) {
    std::uint64_t v = 0;
    if (!parse_whole(text, UINT32_MAX, v)) return false;
    seed = static_cast<std::uint32_t>(v);
    return true;
}

// The text right after the first `letter`, or nullptr when it is absent.
static const char* value_of(const std::string& sw, char letter) {
    std::size_t at = sw.find(letter);
    return at == std::string::npos ? nullptr : sw.c_str() + at + 1;
}

static bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// C's atoi, saturating instead of overflowing.
static int read_int(const char* s) {
    while (is_space(*s)) ++s;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    long long v = 0;
    for (; is_digit(*s); ++s) {
        v = v * 10 + (*s - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return static_cast<int>(v);
}

int switch_level(const std::string& sw, char letter) {
    const char* v = value_of(sw, letter);
    if (!v || *v == '-') return 0;
    int level = read_int(v);
    return level == 0 ? 1 : level;
}

bool switch_present(const std::string& sw, char letter) {
    return sw.find(letter) != std::string::npos;
}

int switch_int(const std::string& sw, char letter) {
    const char* v = value_of(sw, letter);
    return v ? read_int(v) : 0;
}

float switch_float(const std::string& sw, char letter) {
    const char* v = value_of(sw, letter);
    if (!v) return 0.0f;
    while (is_space(*v)) ++v;
    // Take only the decimal form (no "INF", "NAN" or hexadecimal forms).
    const char* s = v;
    if (*s == '-' || *s == '+') ++s;
    const char* digits = s;
    while (is_digit(*s)) ++s;
    bool any = s > digits;
    if (*s == '.') {
        ++s;
        const char* frac = s;
        while (is_digit(*s)) ++s;
        any = any || s > frac;
    }
    if (!any) return 0.0f;
    if (*s == 'E' || *s == 'e') {
        const char* e = s + 1;
        if (*e == '-' || *e == '+') ++e;
        if (is_digit(*e)) {
            while (is_digit(*e)) ++e;
            s = e;
        }
    }
    std::string number(v, s);
    return static_cast<float>(std::strtod(number.c_str(), nullptr));
}

std::vector<std::string> unknown_characters(const std::string& sw) {
    static const char valid[] = "1234567890.UQFBRMAIDKGCT-";
    std::vector<std::string> lines;
    for (char c : sw) {
        if (c == '\0' || std::strchr(valid, c) == nullptr)
            lines.push_back(format("INFO: Unknown character in switch/environment: \"%c\"\n", c));
    }
    return lines;
}

SwitchCheck evaluate_switches(Params& p) {
    SwitchCheck check;
    const std::string& sw = p.invocation.switches;
    p.levels.stopwatch = switch_present(sw, 'T');
    p.levels.notice = switch_present(sw, 'C');
    p.levels.debug = switch_level(sw, 'D');
    p.clustering.cityblock = switch_level(sw, 'B') != 0;
    p.levels.used = switch_level(sw, 'U');
    bool akm = switch_level(sw, 'A') != 0;
    if (akm) p.clustering.algorithm = AKM;
    if (switch_level(sw, 'I') != 0) {
        if (akm) check.infos.push_back("INFO: Both switch A (AKM) and I (AKMDI) given. Switch I have priority.\n");
        p.clustering.algorithm = AKMDI;
    }
    auto refuse = [&](std::string message) {
        check.status = 4;
        check.refusal = std::move(message);
        return check;
    };
    if (switch_present(sw, 'R')) {
        p.clustering.iterations = switch_int(sw, 'R');
        if (p.clustering.iterations < 1) return refuse(format("PANIC: Number of iterationes must be greater than 0: Value=%d\n", p.clustering.iterations));
    }
    if (switch_present(sw, 'K')) {
        p.clustering.clusters = switch_int(sw, 'K');
        if (p.clustering.clusters < 2 || p.clustering.clusters > max_clusters)
            return refuse(format("PANIC: Number of clusters must be between 2 och %d: Value=%d\n", max_clusters, p.clustering.clusters));
    }
    if (switch_present(sw, 'F')) {
        p.clustering.rate_factor = switch_float(sw, 'F');
        if (!(p.clustering.rate_factor > 0.0f && p.clustering.rate_factor <= 2.0f) || !std::isfinite(p.clustering.rate_factor))
            return refuse(format("PANIC: The iteration parameter must be between 0 and 2: Value=%.3f\n",
                                 static_cast<double>(p.clustering.rate_factor)));
    }
    if (switch_present(sw, 'G')) {
        p.clustering.rate = switch_float(sw, 'G');
        if (!(p.clustering.rate > 0.0f) || !std::isfinite(p.clustering.rate))
            return refuse(format("PANIC: The learning rate parameter must be greater than 0: Value=%.5f\n",
                                 static_cast<double>(p.clustering.rate)));
    }
    if (switch_present(sw, 'M')) {
        p.clustering.max_dist = switch_float(sw, 'M');
        if (!(p.clustering.max_dist > 0.0f) || !std::isfinite(p.clustering.max_dist))
            return refuse(format("PANIC: Maximum distance must be greater than 0: Value=%-10.4G\n",
                                 static_cast<double>(p.clustering.max_dist)));
    }
    return check;
}

void evaluate_resources(Params& p, const char* threads, const char* memory, const char* kernel,
                        SwitchCheck& check) {
    std::uint64_t v = 0;
    if (check.status != 0) return;
    if (threads) {
        if (!parse_whole(threads, max_threads, v) || v < 1) {
            check.status = 4;
            check.refusal = format("PANIC: %s must be a whole number from 1 to %d: Value=%s\n", threads_variable,
                                   max_threads, threads);
            return;
        }
        p.resources.threads = static_cast<int>(v);
    }
    if (memory) {
        if (!parse_whole(memory, static_cast<std::uint64_t>(max_memory_mb), v)) {
            check.status = 4;
            check.refusal = format("PANIC: %s must be a whole number of megabytes from 0 to %lld: Value=%s\n",
                                   memory_variable, static_cast<long long>(max_memory_mb), memory);
            return;
        }
        p.resources.memory_mb = static_cast<std::int64_t>(v);
    }
    if (kernel) {
        if (std::strcmp(kernel, "portable") == 0) p.resources.kernel = Kernel::portable;
        else if (std::strcmp(kernel, "avx2") == 0) p.resources.kernel = Kernel::avx2;
        else if (std::strcmp(kernel, "avx512") == 0) p.resources.kernel = Kernel::avx512;
        else {
            check.status = 4;
            check.refusal = format("PANIC: %s must be portable, avx2 or avx512: Value=%s\n", kernel_variable, kernel);
            return;
        }
        if (!nearest_kernel_runs(p.resources.kernel)) {
            check.status = 4;
            check.refusal = format("PANIC: %s=%s: this processor cannot run that kernel\n", kernel_variable, kernel);
            p.resources.kernel = Kernel::automatic;
        }
    }
}

void evaluate_prune(Params& p, const char* prune, SwitchCheck& check) {
    if (check.status != 0 || prune == nullptr) return;
    if (std::strcmp(prune, "on") == 0) p.resources.prune = true;
    else if (std::strcmp(prune, "off") == 0) p.resources.prune = false;
    else {
        check.status = 4;
        check.refusal = format("PANIC: %s must be on or off: Value=%s\n", prune_variable, prune);
    }
}

void evaluate_starts(Params& p, const char* init, const char* restarts, SwitchCheck& check) {
    if (check.status != 0) return;
    if (init) {
        if (std::strcmp(init, "random") == 0) p.clustering.start = Start::random;
        else if (std::strcmp(init, "kmeans++") == 0) p.clustering.start = Start::kmeans_pp;
        else {
            check.status = 4;
            check.refusal = format("PANIC: %s must be random or kmeans++: Value=%s\n", init_variable, init);
            return;
        }
    }
    if (restarts) {
        std::uint64_t v = 0;
        if (!parse_whole(restarts, max_restarts, v) || v < 1) {
            check.status = 4;
            check.refusal = format("PANIC: %s must be a whole number from 1 to %d: Value=%s\n", restarts_variable,
                                   max_restarts, restarts);
            return;
        }
        p.clustering.restarts = static_cast<int>(v);
    }
}

void evaluate_seed(Params& p, const char* text, SwitchCheck& check) {
    if (text == nullptr || check.status != 0) return;
    std::uint32_t seed = 0;
    if (parse_seed(text, seed)) {
        p.invocation.seed = seed;
        return;
    }
    check.status = 4;
    check.refusal = format("PANIC: %s must be a whole number from 0 to 4294967295: Value=%s\n", seed_variable, text);
}

}  // namespace kmeans
