// Result files (.KMC, .KTF, .KMR): written to an unnamed temporary file in
// the directory of the final name (O_TMPFILE; where the file system lacks it,
// a hidden file ".NAME.XXXXXX" that the final clean-up removes), flushed to
// disk and given the final name only when complete. So a failed, cancelled
// or killed run never leaves a half-written result nor destroys an earlier
// one. Write errors (disk full, I/O errors, also at fsync and close) and a
// name that cannot be taken end the run with "\nPANIC: Can't write file:
// %s\n\n" and status 5.
#pragma once

#include <cstddef>
#include <string>

#include "base/params.h"

namespace kmeans {

struct ResultFile {
    std::string name;    // the final name
    std::string temp;    // the hidden name of the file, empty while it has none
    std::string backup;  // while committing without a swap: the earlier file's second name
    int fd = -1;
    std::string buf;     // output not yet written to the file
    bool swapped = false;    // while committing: `temp` holds the earlier file of `name`
    bool backed_up = false;  // while committing: `backup` holds the earlier file of `name`
};

// Whether `arg` names one of the program's own result files (".KMC", ".KTF"
// or ".KMR" anywhere, letters compared without regard to case).
bool is_result_name(const std::string& arg);

// The same test for a data-file argument about to be read: a result file's
// name is skipped with "INFO: Ignoring file: %s\n" (below quiet level 3).
bool skip_result_name(const Params& p, const std::string& arg);

// The result name of a data-file argument, beside the data file: `arg` up to
// the first '.' of its file-name part (after its last '/'), followed by `ext`
// (for example ".KMC"); `arg` whole when that part holds no '.'.
std::string result_name(const std::string& arg, const char* ext);

// Creates the temporary file for `name` (a hidden one is registered for
// removal at exit). Returns false when it cannot be created.
bool result_create(ResultFile& f, const std::string& name);

// The same; a file that cannot be created ends the run with
// "\nPANIC: Can't create file: %s\n\n" (the name) and status 5.
void result_create_or_panic(ResultFile& f, const std::string& name);

// Appends bytes; they reach the file in large blocks.
void result_write(ResultFile& f, const char* data, std::size_t n);

// Appends `value` in decimal and a line feed: the lines of the .KTF and .KMR.
void result_int_line(ResultFile& f, int value);

// Appends formatted text (conversions as in format.h).
void result_printf(ResultFile& f, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Writes what is pending, flushes the file to disk (fsync), closes it and
// gives it its final name, replacing a file of that name; then flushes the
// directory. Does nothing for a file never created.
void result_commit(ResultFile& f);

// The same for a pair (the .KMC and .KTF of one data file), replaced as a
// pair: both are complete on disk before either takes its name, and when the
// second cannot take its name the first goes back to what it was (the earlier
// file, or no file) before the run ends with status 5.
void result_commit_pair(ResultFile& a, ResultFile& b);

}  // namespace kmeans
