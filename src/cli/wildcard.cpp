#include "cli/wildcard.h"

#include <dirent.h>
#include <sys/stat.h>

namespace kmeans {

static char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool wildcard_match(const char* pattern, const char* name) {
    // Iterative match with one backtrack point for the last '*'.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern && fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

std::vector<std::string> expand_pattern(const std::string& pattern) {
    std::size_t slash = pattern.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    std::string last = slash == std::string::npos ? pattern : pattern.substr(slash + 1);

    std::vector<std::string> names;
    bool any_match = false;
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d) {
        while (dirent* e = readdir(d)) {
            if (!wildcard_match(last.c_str(), e->d_name)) continue;
            any_match = true;
            if (e->d_name[0] == '.') continue;
            std::string path = dir + e->d_name;
            struct stat st;
            if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
            names.push_back(std::move(path));
        }
        closedir(d);
    }
    if (!any_match) names.push_back(pattern);
    return names;
}

}  // namespace kmeans
