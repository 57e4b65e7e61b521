#include "io/name_clash.h"

#include <climits>
#include <cstdlib>

#include "base/registry.h"

namespace kmeans {

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

void claim_result_names(WrittenResults& written, const std::string& arg, const std::vector<std::string>& names) {
    std::vector<std::string> keys;
    for (const std::string& name : names) {
        keys.push_back(same_file_key(name));
        for (const WrittenResults::Entry& e : written.entries)
            if (e.key == keys.back())
                panic(5, "\nPANIC: Results of %s would replace those of %s\n\n", arg.c_str(), e.arg.c_str());
    }
    for (std::string& key : keys) written.entries.push_back({std::move(key), arg});
}

}  // namespace kmeans
