#include "summary/args.h"

namespace kmeans {

std::string parse_summary_args(const std::vector<std::string>& args, SummaryArgs& a) {
    std::string seen;
    return walk_companion_args(args, a.files, [&](const std::string& arg, const std::string& sw) -> std::string {
        for (std::size_t i = 0; i < sw.size();) {
            const char raw = sw[i++];
            const char letter = raw >= 'a' && raw <= 'z' ? static_cast<char>(raw - 'a' + 'A') : raw;
            const bool first = seen.find(letter) == std::string::npos;
            if (first) seen += letter;
            const bool off = i < sw.size() && sw[i] == '-';
            if (off) ++i;
            if (letter == 'C') {
                if (first) a.csv = !off;
            } else if (letter == 'B') {
                if (first) a.cityblock = !off;
            } else {
                return std::string("unknown switch letter '") + raw + "': " + arg;
            }
        }
        return "";
    });
}

}  // namespace kmeans
