// The row source: one open data file and "rewind and deliver every row" for
// all passes over it. The first pass counts and checks the rows; every later
// pass goes through each_row, which also makes sure the file has not changed
// since the first pass.
#pragma once

#include <cstdint>
#include <string>

#include "base/console.h"
#include "base/keyboard.h"
#include "io/ranges.h"
#include "io/read_row.h"

namespace kmeans {

struct DataFile {
    std::string name;        // the argument as typed
    TextFile text;
    int nvars = 0;           // values per row, fixed by the first row
    std::int64_t N = 0;      // data rows, counted by the first pass
    Spinner spinner;         // the progress indicator of this file's passes
    std::int64_t size = 0;   // size and modification time when it was opened
    std::int64_t mtime_sec = 0;
    long mtime_nsec = 0;
    alignas(64) float row[max_vars];  // the row last read
};

// Opens the data file and notes its size and modification time; a file that
// cannot be opened ends the run with "\nPANIC: Can't find/open file:
// %s\n\n" and status 4.
void data_open(DataFile& d, const std::string& name);

// The first pass: resets nvars, reads every row, polls for cancellation,
// turns the spinner at every 64th row, and updates `ranges` (when not null)
// with each row. A bad row ends the run with its reason (row_reason) and
// "\nPANIC: Bad datafile: %s  Datarow:%d\n", status 5. When the data end at
// a row without values and more lines with text follow (comment and blank
// lines not counted, nor anything after a Ctrl-Z), writes below quiet level 3
// "\nVARNING: The data of %s end at line %lld; %lld more lines are left
// out.\n" ("1 more line is left out" for one). Sets and returns N.
std::int64_t first_pass(const Params& p, DataFile& d, Ranges* ranges);

// Positions the file at its first row for a later pass. A file whose size or
// modification time is no longer that of its opening (an edit of any kind,
// also one that keeps the size and the row count) ends the run with
// "\nPANIC: Datafile changed while it was read: %s\n\n" and status 5.
void rows_rewind(DataFile& d);

// Reads row `r` (0-based) of a later pass into d.row. Returns false at the end
// of the rows, after the same check as rows_rewind. A file that now holds
// other rows than the first pass counted (more or fewer rows, a row of
// another length, a bad row) ends the run with that PANIC too, so no row at
// or past N is delivered.
bool next_row(DataFile& d, std::int64_t r);

// One later pass over the data file: rewinds it, then for every row r
// (0-based, the values in d.row) polls for cancellation, calls progress(r)
// and then on_row(r).
template <class Progress, class OnRow>
void each_row_with(DataFile& d, Progress&& progress, OnRow&& on_row) {
    rows_rewind(d);
    for (std::int64_t r = 0; next_row(d, r); ++r) {
        poll_cancel();
        progress(r);
        on_row(r);
    }
}

// Where the spinner of a later pass starts: where the previous pass left it,
// or at its first character.
enum class SpinFrom { last, start };

// A later pass with the usual progress: the spinner turns at rows 0, 64, 128...
template <class OnRow>
void each_row(const Params& p, DataFile& d, SpinFrom from, OnRow&& on_row) {
    if (from == SpinFrom::start) d.spinner = Spinner{};
    each_row_with(d, [&](std::int64_t r) { if (spinner_due(r)) spin(p, d.spinner); }, on_row);
}

}  // namespace kmeans
