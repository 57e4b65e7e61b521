// Result files (.KMC, .KTF, .KMR): written to an unnamed temporary file in
// the directory of the final name (O_TMPFILE; where the file system lacks it,
// a hidden file ".NAME.XXXXXX" that the final clean-up removes), flushed to
// disk and given the final name only when complete. So a failed, cancelled
// or killed run never leaves a half-written result nor destroys an earlier
// one. Write errors (disk full, I/O errors, also at fsync and close) and a
// name that cannot be taken are kept and returned by the commit, as a write
// failure naming the file.
#pragma once

#include <cstddef>
#include <string>

#include "base/failure.h"

namespace kmeans {

struct ResultFile {
    std::string name;    // the final name
    std::string temp;    // the hidden name of the file, empty while it has none
    std::string backup;  // while committing without a swap: the earlier file's second name
    int fd = -1;
    std::string buf;     // output not yet written to the file
    bool swapped = false;    // while committing: `temp` holds the earlier file of `name`
    bool backed_up = false;  // while committing: `backup` holds the earlier file of `name`
    int err = 0;             // the errno of the first failed write, 0 while none failed
};

// Creates the temporary file for `name` (a hidden one is registered for
// removal at exit). Returns a create failure (with errno) when it cannot.
Failure result_create(ResultFile& f, const std::string& name);

// Appends bytes; they reach the file in large blocks. A failed write is
// kept in f.err and later bytes are dropped; result_commit reports it.
void result_write(ResultFile& f, const char* data, std::size_t n);

// A write failure naming `f` when one of its writes failed so far, else no
// failure.
Failure result_failure(const ResultFile& f);

// Appends `value` in decimal and a line feed: the lines of the .KTF and .KMR.
void result_int_line(ResultFile& f, int value);

// Appends formatted text (conversions as in format.h).
void result_printf(ResultFile& f, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Writes what is pending, flushes the file to disk (fsync), closes it and
// gives it its final name, replacing a file of that name; then flushes the
// directory. Does nothing for a file never created. Returns a write failure
// (with errno) when any write, the flush, the close or the naming failed;
// the earlier file of that name is then as it was.
Failure result_commit(ResultFile& f);

// The same for a pair (the .KMC and .KTF of one data file), replaced as a
// pair: both are complete on disk before either takes its name, and when the
// second cannot take its name the first goes back to what it was (the earlier
// file, or no file) before the write failure is returned.
Failure result_commit_pair(ResultFile& a, ResultFile& b);

}  // namespace kmeans
