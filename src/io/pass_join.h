// The join of a first pass: the parts of a data file, read on any thread,
// taken in file order on the calling thread, deciding exactly what one
// reader going through the text would. Shared by the first pass over a
// plain file (its parts) and over a compressed one (its chunks of text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/data_file.h"

namespace kmeans {

struct PassJoin {
    const Params& p;
    DataFile& d;
    Ranges* ranges;              // updated with every row when not null
    bool warn = false;           // the lines left out after an empty row are counted and reported
    bool rows_must_stay = false; // rows that the table cannot keep fail the pass (compressed files)
    std::int64_t rowno = 1;      // the number of the next row
    std::int64_t lines_before = 0;  // line feeds before the part being joined
    bool ended = false;          // the data ended, or the pass failed, in a part joined
    Failure failure{};           // why the pass failed
    RowRefusal end{};            // how the data ended (an empty row: where)
    std::int64_t left_out = 0;   // lines with text after an empty row that ended the data
    bool left_out_mark = false;  // that count ended at a Ctrl-Z
};

// Starts the join of a pass over `j.d`: resets nvars and the row source (the
// table is reserved from the budget of j.p), and takes the header line,
// looked for in `start` (the data file's text, opened at its start): the
// messages that data_file.h names, and the join counts lines from after it.
void join_start(PassJoin& j, TextFile& start);

// Joins the next part: its rows (nvars, the ranges, the table, the spinner),
// then what ended it. `expected` is an estimate of all the values of the
// file (0: none) with which the table is given up early. Returns true when
// the part ended the data or the pass failed (j.ended): no later part counts.
bool join_part(PassJoin& j, Part& part, std::size_t expected);

// Ends the pass with the failure `f` at the next row.
void join_fail(PassJoin& j, Failure f);

// After the last part: N, the table trimmed, and the warning about the
// lines left out (j.left_out, with those the caller counted after the part
// where the data ended). Returns the failure of the pass (the table then
// released).
Failure join_finish(PassJoin& j);

}  // namespace kmeans
