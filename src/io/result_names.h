// The names of the result files: formed from a data-file argument, told apart
// from data files, and kept apart between the data files of one run.
#pragma once

#include <string>
#include <vector>

#include "base/params.h"
#include "base/failure.h"

namespace kmeans {

// Whether `arg` names one of the program's own result files (".KMC", ".KTF"
// or ".KMR" anywhere, letters compared without regard to case).
bool is_result_name(const std::string& arg);

// The same test for a data-file argument about to be read: a result file's
// name is skipped with "INFO: Ignoring file: %s\n" (below quiet level 3).
bool skip_result_name(const Levels& l, const std::string& arg);

// The result name of a data-file argument, beside the data file: `arg` up to
// the first '.' of its file-name part (after its last '/'), followed by `ext`
// (for example ".KMC"); `arg` whole when that part holds no '.'.
std::string result_name(const std::string& arg, const char* ext);

// The result names written so far in this run, each with the argument that
// wrote it.
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
// an earlier argument, returns a name_clash failure (`arg`, the earlier
// argument) and records nothing; otherwise records `names` as written for
// `arg` and returns no failure.
Failure claim_result_names(WrittenResults& written, const std::string& arg, const std::vector<std::string>& names);

}  // namespace kmeans
