#include "io/result_names.h"

#include <climits>
#include <cstdlib>

#include "base/console.h"

namespace kmeans {

bool is_result_name(const std::string& arg) {
    static const char* const exts[] = {".KMC", ".KTF", ".KMR"};
    for (std::size_t i = 0; i + 4 <= arg.size(); ++i) {
        for (const char* ext : exts) {
            bool same = true;
            for (int j = 0; j < 4 && same; ++j) {
                char c = arg[i + j];
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
                same = c == ext[j];
            }
            if (same) return true;
        }
    }
    return false;
}

bool skip_result_name(const Levels& l, const std::string& arg) {
    if (!is_result_name(arg)) return false;
    say(l, Show::quiet_lt3, stderr, "INFO: Ignoring file: %s\n", arg.c_str());
    return true;
}

std::string result_name(const std::string& arg, const char* ext) {
    std::size_t slash = arg.rfind('/');
    std::size_t from = slash == std::string::npos ? 0 : slash + 1;
    return arg.substr(0, arg.find('.', from)) + ext;
}


std::string same_file_key(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : name.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    char resolved[PATH_MAX];
    if (realpath(dir.c_str(), resolved) == nullptr) return name;
    std::string key = resolved;
    if (key.back() != '/') key += '/';
    return key + base;
}

Failure claim_result_names(WrittenResults& written, const std::string& arg, const std::vector<std::string>& names) {
    std::vector<std::string> keys;
    for (const std::string& name : names) {
        keys.push_back(same_file_key(name));
        for (const WrittenResults::Entry& e : written.entries)
            if (e.key == keys.back()) {
                Failure f;
                f.what = Fault::name_clash;
                f.path = arg;
                f.other = e.arg;
                return f;
            }
    }
    for (std::string& key : keys) written.entries.push_back({std::move(key), arg});
    return Failure{};
}

}  // namespace kmeans
