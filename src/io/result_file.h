// Result files (.KMC, .KTF, .KMR, and kmeans-plot's pictures) are written so
// that a failed, cancelled or killed run, or two runs at once, never leave a
// half-written result, a mixed pair or a lost earlier result:
//   - each is written to an unnamed temporary file in the directory of its
//     final name (O_TMPFILE; where the file system lacks unnamed files, a
//     hidden ".NAME~XXXXXX" that its writer keeps locked and the final
//     clean-up removes) and flushed to disk;
//   - its commit takes the names of its set (one file, or a .KMC and its
//     .KTF) under an exclusive lock of the directory, keeping every earlier
//     file until the whole set is in place, with a record on disk that lets
//     the next run finish a commit a kill interrupted (result_file.cpp
//     gives the steps);
//   - write errors (disk full, I/O errors, also at fsync and close) and a
//     name that cannot be taken are kept and returned, as a write failure
//     naming the file; the earlier files are then as they were.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/failure.h"

namespace kmeans {

// Ways for tests to take the fallbacks of a commit and to stop one where a
// kill would; the program never sets them.
struct CommitSeam {
    bool no_unnamed_files = false;  // create as where the file system refuses unnamed files
    bool no_hard_links = false;     // commit as where it refuses hard links
    int stop_after = -1;            // stop the commit after this step, leaving what a kill there would
    void (*placing)(void* ctx) = nullptr;  // called while the first file of a set has taken its name
    void* ctx = nullptr;
};

// The steps of a commit, for CommitSeam::stop_after.
enum CommitStep : int {
    commit_named_new = 0,     // every file of the set is named ".NAME~new"
    commit_recorded = 1,      // the record is on disk
    commit_placed_first = 2,  // the first file has its name
    commit_placed_second = 3, // the second file has its name
    commit_record_gone = 4,   // the record is removed, the old files not yet
};

struct ResultFile {
    std::string name;    // the final name
    std::string temp;    // the hidden name of the file while it has one, else empty (unnamed)
    int fd = -1;
    std::string buf;     // output not yet written to the file
    int err = 0;         // the errno of the first failed write, 0 while none failed
    const CommitSeam* seam = nullptr;  // tests only
};

// What the recovery of an interrupted commit did, for the drivers' INFO
// lines: the sets it carried through (their names), and the leftovers it
// removed.
struct Recovery {
    std::vector<std::string> finished;
    std::vector<std::string> removed;
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
// the earlier file of that name is then as it was. What an interrupted
// commit over the name left is dealt with first, and noted in `rec`.
Failure result_commit(ResultFile& f, Recovery* rec = nullptr);

// The same for a pair (the .KMC and .KTF of one data file), replaced as a
// pair: both are complete on disk before either takes its name, and when the
// second cannot take its name the first goes back to what it was (the earlier
// file, or no file) before the write failure is returned.
Failure result_commit_pair(ResultFile& a, ResultFile& b, Recovery* rec = nullptr);

// Finishes what an interrupted commit over `names` (result names of one
// directory) left, or removes it: a commit whose record is complete takes
// its new files; one whose record is not, and hidden temporaries whose
// writer is gone, are removed. Run by every run before it writes or reads
// result names; does nothing where nothing was left (or the directory cannot
// be opened).
Recovery result_recover(const std::vector<std::string>& names);

// Writes to standard error what a recovery did, at every quiet level:
// "INFO: Finished the results an interrupted run left: %s\n" for every set
// carried through (its names), "INFO: Removed what an interrupted run left:
// %s\n" for every leftover.
void say_recovery(const Recovery& rec);

}  // namespace kmeans
