// A data file cut into parts that threads read at the same time. Part i
// holds the lines that start at a byte offset from i * size up to (not
// including) (i + 1) * size; the last part holds every line after. So the
// parts, read one after the other, hold exactly the lines of the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/ranges.h"
#include "io/read_row.h"

namespace kmeans {

// How a part's reading of rows ended before its last line.
enum class PartEnd : unsigned char {
    none,     // every line of the part was read
    data,     // the data end here: an empty row or a Ctrl-Z (why.end says which)
    refused,  // a row the reader refused (why.kind says why)
    changed,  // a later pass found other rows than the first pass did
};

// One part as a thread read it, in a buffer that is used again for later
// parts.
struct Part {
    TextFile text;
    std::vector<char> scratch;     // bytes looked at to find the part's first line
    std::vector<float> values;     // its rows, row after row, in the first `filled` floats;
                                   // the rest is room the next row is read into
    std::size_t filled = 0;
    Ranges ranges;                 // first pass: the ranges of its rows
    std::int64_t rows = 0;
    int nvars = 0;                 // values of its first row (0: no row)
    std::string first_line;        // first pass: the line of its first row
    PartEnd end = PartEnd::none;
    RowRefusal why;                // what ended it
    std::string end_line;          // the line of a refused row
    std::int64_t newlines = 0;     // line feeds up to where its reading ended
    std::int64_t left_out = 0;     // after an empty row: lines with text that follow in the part
    bool left_out_mark = false;    // that count ended at a Ctrl-Z
};

// The part size for a file of `size` bytes read by `threads` threads:
// parts enough for every thread to have several, none so small that its
// overhead counts, none so large that its buffers do.
std::int64_t part_bytes_for(std::int64_t size, int threads);

// The number of parts of `part_bytes` bytes in a file of `size` bytes (at
// least one).
std::size_t part_count(std::int64_t size, std::int64_t part_bytes);

// How a file is cut into parts: the file open as `fd`, read only up to
// `size` bytes (its size when it was opened: bytes appended later are never
// read), in `parts` parts of `part_bytes` bytes. Lines that start before
// offset `data_from` (the comment lines and the header line before the
// data, see header.h) are not read, nor counted in part.newlines.
struct PartPlan {
    int fd = -1;
    std::int64_t size = 0;
    std::int64_t part_bytes = 0;
    std::size_t parts = 0;
    std::int64_t data_from = 0;
};

// First pass: reads part `i` of `plan` into `part`: every row up to the
// first row that ends or refuses the data, and the ranges of the rows.
// After an empty row, counts the lines left out in the rest of the part
// when `count_left_out`. Writes nothing and never ends the run: the caller
// decides.
void read_part(Part& part, const PartPlan& plan, std::size_t i, bool count_left_out);

// The same for a part already opened as part.text (a text in memory, for
// one): its rows from there to its end.
void read_part_rows(Part& part, bool count_left_out);

// Later pass: reads part `i` again, expecting what the first pass found
// there: `rows` rows of `nvars` values each, then no further row (the part,
// or the data, end). part.end is PartEnd::changed when the file holds
// anything else.
void reread_part(Part& part, const PartPlan& plan, std::size_t i, std::int64_t rows, int nvars);

// Counts the lines that `f` still holds, up to its end or to a Ctrl-Z at the
// start of a line (`at_mark` tells which), that are neither comment lines
// nor blank: the lines an empty row left out of the data. Polls for
// cancellation at every line when `poll`.
std::int64_t lines_left_out(TextFile& f, bool poll, bool& at_mark);

}  // namespace kmeans
