// The row reader: one text line of a data file (or centre file) into floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/limits.h"
#include "io/text_file.h"

namespace kmeans {

// Results of read_row besides a count of values (n >= 1).
enum : int {
    row_end = 0,            // end of file, or an empty row: the data end here
    row_count_mismatch = -1,// count differs from nvars
    row_bad_char = -2,      // a character outside the accepted set
    row_too_many = -3,      // more than max_vars values
    row_out_of_range = -4,  // a value beyond the single-precision range
    row_too_long = -5,      // a line longer than max_line_bytes
};

// How the data ended when read_row gave row_end.
enum class DataEnd : unsigned char {
    file_end,   // the file has no more lines
    end_mark,   // a Ctrl-Z at the start of a line: a deliberate end
    empty_row,  // a line without any value (empty, blank, or no value at its start)
};

// What read_row found when it delivered no row: filled whenever its result is
// row_end or a refusal code (never for a row). Plain data: the reader itself
// writes nothing to the console, so that several readers can run at once and
// their callers say what went wrong.
struct RowRefusal {
    int kind = row_end;        // the result this describes
    DataEnd end = DataEnd::file_end;  // row_end: why the data ended
    std::int64_t line = 0;     // 1-based line of the file that holds the row (or ended the data);
                               // not set for file_end and end_mark
    int column = 0;            // row_bad_char: 1-based column of the byte; row_out_of_range: of the value
    unsigned char byte = 0;    // row_bad_char: the refused byte
    int value = 0;             // row_out_of_range: 1-based position of the value in the row
    int count = 0;             // row_count_mismatch: the values of the row
    int expected = 0;          // row_count_mismatch: nvars
};

// Reads the next row of `f` into `row` (room for max_vars floats).
// Lines holding '!' anywhere are comment lines and are skipped. Every other
// line may hold only digits, blank, tab, '.', ',', '-', '+', 'e', 'E',
// carriage return and line feed. Values are separated by blanks, tabs and
// commas; a value starts at a digit, '-' or '.', and is converted with the
// rules of C's %f into a correctly rounded single-precision float.
//
// `nvars` is the expected count: 0 means not fixed yet, and the first row with
// values fixes it. A row whose count differs returns row_count_mismatch (its
// values are in `row`). A line longer than max_line_bytes that is not a
// comment line returns row_too_long.
// Returns the number of values (>= 1), or one of the codes above with `why`
// filled in; `row` is written only with the values of a row, or of a row of
// another count. Writes nothing to the console.
// f.line holds the line it stopped at when it delivers no row, and the line
// of a row that fixed nvars (nvars was 0); after any other row it may hold
// an earlier line, since a plain line that lies whole in the read buffer is
// parsed where it lies.
int read_row(TextFile& f, float* row, int& nvars, RowRefusal& why);

// The same, parsing into `room` (max_vars floats) as it goes: when it
// delivers no row, `room` may hold values of the line it stopped at or
// passed over. For callers that read into room of their own.
int read_row_to(TextFile& f, float* room, int& nvars, RowRefusal& why);

// Reads rows of `nvars` values (nvars > 0) into `out` (room for `most`
// rows), one after the other, as long as they lie plain in the read buffer
// (see text_buffered_lines) and hold nvars values: what read_row_to would
// read, row after row, without a call per row. Stops before the first line
// that is anything else, and at the end of the read buffer; read_row_to
// reads on from there. Returns the rows read (0 to `most`). Reads nothing
// from the file; f.line stays as it was.
std::int64_t read_rows_to(TextFile& f, float* out, std::int64_t most, int nvars);

// The same, for callers that need no more than the result.
int read_row(TextFile& f, float* row, int& nvars);

// Parses one row from the whole text `line` into `row` without the comment
// test or the count check: the part of read_row that works on a line already
// read. A NUL byte is a character outside the accepted set, like any other.
// Returns the number of values, or row_bad_char, row_too_many or
// row_out_of_range with `why` filled in (its line not set).
int parse_row(const std::string& line, float* row, RowRefusal& why);
int parse_row(const std::string& line, float* row);

// The line that says why a row was refused, as written before the PANIC of a
// data or centre file: for row_count_mismatch "\nstr:%s%d!=%d\n" (`line`,
// the line as read, then the two counts), for every other refusal one line
// starting with "\n" and without a line end ("\nRow holds more than 2048
// values."); empty for row_end.
std::string row_reason(const RowRefusal& why, const std::string& line);

// The same for a row of a data file: a row refused for a letter, '#' or '"'
// (a header line the header rule does not take, a note) gets, on the same
// line, how to make it a comment line: " Mark a header or a note as a
// comment with \"!\" anywhere in its line."
std::string data_row_reason(const RowRefusal& why, const std::string& line);

}  // namespace kmeans
