// The row source: one open data file and "rewind and deliver every row" for
// all passes over it. The first pass counts and checks the rows; every later
// pass goes through rows_rewind and next_row, which also make sure the file
// has not changed since the first pass.
#pragma once

#include <cstdint>
#include <string>

#include "cli/console.h"
#include "cli/keyboard.h"
#include "data/read_row.h"

struct Ranges;

struct DataFile {
    std::string name;        // the argument as typed
    TextFile text;
    int nvars = 0;           // values per row, fixed by the first row
    std::int64_t N = 0;      // data rows, counted by the first pass
    alignas(64) float row[max_vars];  // the row last read
};

// Opens the data file; a file that cannot be opened ends the run with
// "\nPANIC: Can't find/open file: %s\n\n" and status 4.
void data_open(DataFile& d, const std::string& name);

// The first pass: resets nvars, reads every row, polls for cancellation,
// turns `spinner` at every 64th row, and updates `ranges` (when not null)
// with each row. A bad row ends the run with "\nPANIC: Bad datafile: %s
// Datarow:%d\n" and status 5. Sets and returns N.
std::int64_t first_pass(const Params& p, DataFile& d, Spinner& spinner, Ranges* ranges);

// Positions the file at its first row for a later pass.
void rows_rewind(DataFile& d);

// Reads row `r` (0-based) of a later pass into d.row. Returns false at the end
// of the rows. A file that now holds other rows than the first pass counted
// (more or fewer rows, a row of another length, a bad row) ends the run with
// a PANIC naming the file and status 5.
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

// The same with the usual progress: the spinner turns at rows 0, 64, 128...
template <class OnRow>
void each_row(const Params& p, DataFile& d, Spinner& spinner, OnRow&& on_row) {
    each_row_with(d, [&](std::int64_t r) { if ((r & 63) == 0) spin(p, spinner); }, on_row);
}

// Whether `arg` names one of the program's own result files (".KMC", ".KTF"
// or ".KMR" anywhere, letters compared without regard to case).
bool is_result_name(const std::string& arg);

// `arg` up to its first '.', followed by `ext` (for example ".KMC").
std::string result_name(const std::string& arg, const char* ext);
