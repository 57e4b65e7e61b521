// Result names already written in this run: a later data-file argument whose
// results would replace those of an earlier one is refused.
#pragma once

#include <string>
#include <vector>

namespace kmeans {

// The result names written so far, each with the argument that wrote it.
struct WrittenResults {
    struct Entry {
        std::string key;  // the name as it is compared (same_file_key)
        std::string arg;  // the data-file argument whose result it is
    };
    std::vector<Entry> entries;
};

// The form under which result names are compared: the real path of the
// name's directory followed by its file name, so that "x/A.KMC" and
// "./x/../x/A.KMC" are one file; the name itself when the directory cannot
// be resolved.
std::string same_file_key(const std::string& name);

// Before any result of `arg` is written: when one of `names` was written for
// an earlier argument, ends the run with "\nPANIC: Results of %s would replace
// those of %s\n\n" (`arg`, the earlier argument) and status 5; otherwise
// records `names` as written for `arg`.
void claim_result_names(WrittenResults& written, const std::string& arg, const std::vector<std::string>& names);

}  // namespace kmeans
