// Result files (.KMC, .KTF, .KMR): written to a hidden temporary file beside
// the final name and moved onto it only when complete, so that a failed or
// cancelled run never leaves a half-written result nor destroys an earlier
// one. Write errors (disk full, I/O errors, also at close) end the run with
// "\nPANIC: Can't write file: %s\n\n" and status 5.
#pragma once

#include <cstddef>
#include <string>

#include "base/params.h"

namespace kmeans {

struct ResultFile {
    std::string name;  // the final name
    std::string temp;  // the temporary file being written, empty when none
    int fd = -1;
    std::string buf;   // output not yet written to the file
};

// Whether `arg` names one of the program's own result files (".KMC", ".KTF"
// or ".KMR" anywhere, letters compared without regard to case).
bool is_result_name(const std::string& arg);

// The same test for a data-file argument about to be read: a result file's
// name is skipped with "INFO: Ignoring file: %s\n" (below quiet level 3).
bool skip_result_name(const Params& p, const std::string& arg);

// The result name of a data-file argument: `arg` up to its first '.',
// followed by `ext` (for example ".KMC").
std::string result_name(const std::string& arg, const char* ext);

// Creates the temporary file for `name` and registers it for removal at an
// abnormal exit. Returns false when it cannot be created.
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

// Writes what is pending and closes the file, which keeps its temporary
// name (and stays registered for removal) until result_commit. Does nothing
// when the file is not open. Closing every result file of a data file before
// moving any of them means that a write error in one leaves all earlier
// results in place.
void result_close(ResultFile& f);

// Closes the file if it is still open, then moves it onto its name. Does
// nothing when there is no temporary file.
void result_commit(ResultFile& f);

}  // namespace kmeans
