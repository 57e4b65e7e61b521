// The row reader: one text line of a data file (or centre file) into floats.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/limits.h"

namespace kmeans {

// Results of read_row besides a count of values (n >= 1).
enum : int {
    row_end = 0,            // end of file, or an empty row: the data end here
    row_count_mismatch = -1,// count differs from nvars (message already written)
    row_bad_char = -2,      // a character outside the accepted set
    row_too_many = -3,      // more than max_vars values
    row_out_of_range = -4,  // a value beyond the single-precision range
};

// Size of the read buffer of a TextFile: one read(2) fills it at most.
constexpr std::size_t text_buffer_bytes = std::size_t{1} << 20;

// A data file opened for reading in text mode, read through its own buffer
// (no stdio, no system call per line). The text-mode rules of the home
// platform apply to input: a carriage return is dropped and the character
// after it taken literally (so of two carriage returns the second stays),
// and a Ctrl-Z (code 26) reads as an end of file: at the start of a line it
// ends the file, inside a line it ends that line, and reading resumes after it.
struct TextFile {
    int fd = -1;
    std::vector<char> buf;  // read buffer, allocated once at open
    std::size_t pos = 0;    // next unread byte in buf
    std::size_t len = 0;    // bytes held in buf
    bool eof = false;       // the descriptor has reported its end
    std::size_t special = 0;  // first carriage return or Ctrl-Z at or after pos (len when none)
    std::string line;       // the line last read (grows, never shrinks)
};

// Opens `path` for reading. Returns false when it cannot be opened or is not
// a regular file (a directory, pipe, terminal or device); the file is then
// left closed.
bool text_open(TextFile& f, const std::string& path);

// Opens `path` like text_open; a file that cannot be opened ends the run with
// "\nPANIC: Can't find/open file: %s\n\n" (the path) and status 4.
void text_open_or_panic(TextFile& f, const std::string& path);

// Closes the file if open; safe to call twice.
void text_close(TextFile& f);

// Positions the file at its start for another pass.
void text_rewind(TextFile& f);

// Reads one line into f.line (its line feed included, when it has one),
// applying the text-mode rules above. Lines of any length are read whole.
// Returns false when the end of the file comes before any character.
bool text_read_line(TextFile& f);

// Reads the next row of `f` into `row` (room for max_vars floats).
// Lines holding '!' anywhere are comment lines and are skipped. Every other
// line may hold only digits, blank, tab, '.', ',', '-', '+', 'e', 'E',
// carriage return and line feed. Values are separated by blanks, tabs and
// commas; a value starts at a digit, '-' or '.', and is converted with the
// rules of C's %f into a correctly rounded single-precision float.
//
// `nvars` is the expected count: 0 means not fixed yet, and the first row with
// values fixes it. A row whose count differs writes "\nstr:%s%d!=%d\n" (the
// line, the count, nvars) to standard error and returns row_count_mismatch.
// Returns the number of values (>= 1), or one of the codes above.
int read_row(TextFile& f, float* row, int& nvars);

// Parses one row from the whole text `line` into `row` without the comment
// test or the count check: the part of read_row that works on a line already
// read. A NUL byte is a character outside the accepted set, like any other.
// Returns the number of values, or row_bad_char, row_too_many or
// row_out_of_range.
int parse_row(const std::string& line, float* row);

}  // namespace kmeans
