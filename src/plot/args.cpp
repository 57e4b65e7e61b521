#include "plot/args.h"

#include "cli/companion_args.h"

namespace kmeans {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number at s[i] into v, moving i past it. False when no
// digit stands there or the number exceeds `most`.
bool read_number(const std::string& s, std::size_t& i, std::int64_t most, std::int64_t& v) {
    if (i >= s.size() || !is_digit(s[i])) return false;
    v = 0;
    for (; i < s.size() && is_digit(s[i]); ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > most) return false;
    }
    return true;
}

// Reads the switch text `sw` (the argument without its '-' or '/'); `seen`
// holds the letters met so far, whose later occurrences are read but ignored.
std::string read_switches(const std::string& arg, const std::string& sw, PlotArgs& a, std::string& seen) {
    std::size_t i = 0;
    while (i < sw.size()) {
        const char raw = sw[i++];
        char letter = raw;
        if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
        bool first = seen.find(letter) == std::string::npos;
        if (first) seen += letter;
        bool off = i < sw.size() && sw[i] == '-';
        if (off) ++i;
        if (letter == 'Q') {
            while (i < sw.size() && is_digit(sw[i])) ++i;  // a level, as kmeans takes it: any level is quiet here
            if (first) a.quiet = !off;
        } else if (letter == 'S') {
            if (off) continue;
            std::int64_t v = 0;
            if (!read_number(sw, i, plot_max_limit, v) || v < 1)
                return "the sample limit -S must be between 1 and " + std::to_string(plot_max_limit) + ": " + arg;
            if (first) a.limit = v;
        } else if (letter == 'V') {
            if (off) continue;
            std::vector<int> vars;
            for (;;) {
                std::int64_t v = 0;
                if (!read_number(sw, i, 1000000, v) || v < 1)
                    return "-V needs variable numbers from 1 up, separated by commas: " + arg;
                vars.push_back(static_cast<int>(v));
                if (i < sw.size() && sw[i] == ',') ++i;
                else break;
            }
            if (vars.size() > 4) return "-V takes at most four variables: " + arg;
            if (first) a.vars = vars;
        } else {
            return std::string("unknown switch letter '") + raw + "': " + arg;
        }
    }
    return "";
}

}  // namespace

std::string parse_plot_args(const std::vector<std::string>& args, PlotArgs& a) {
    std::string seen;
    CompanionArgs files;
    std::string reason = walk_companion_args(
        args, files, [&](const std::string& arg, const std::string& sw) { return read_switches(arg, sw, a, seen); });
    a.question = files.question;
    a.data = files.data;
    a.centres = files.centres;
    return reason;
}

}  // namespace kmeans
