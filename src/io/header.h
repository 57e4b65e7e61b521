// The header line of a data file: a first line of column names, as
// spreadsheets and pandas write them, which every pass passes over like a
// comment line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/text_file.h"

namespace kmeans {

struct HeaderLine {
    std::int64_t line = 0;           // 1-based line of the file that holds it; 0: the file has none
    std::int64_t data_from = 0;      // offset in the text of the line after it (0 without a header)
    std::int64_t newlines = 0;       // line feeds before data_from
    std::vector<std::string> names;  // one per column, in order; "" for a column without a name
};

inline bool has_header(const HeaderLine& h) { return h.line > 0; }

// Splits `line` (a line as read, its line feed included) into column names
// when it is a names line, and returns false when it is not. Names are
// separated like values (blanks, tabs, commas; a run of them is one
// separator), or with `commas_only` by commas alone, as a CSV file
// separates them (so that they may hold blanks, "sepal length (cm)"; the
// blanks around a name are dropped, and an empty field is an empty name).
// A name in double quotes may hold separators, and loses the quotes (""
// inside stands for one quote). Split like values, a comma before the
// first name gives an empty first name (the unnamed row index of pandas).
// A names line holds at least one name, no name that is a number from end
// to end ("12", "-3.5", "1e5"; a quoted one may be), no control character,
// and a character that no row may hold (so that no line read as a row
// before is now taken for names).
bool header_names(const std::string& line, bool commas_only, std::vector<std::string>& names);

// Reads `f`, freshly opened at the start of a data file's text, up to where
// the header is decided, and returns the header (line 0 when there is none).
// The first line that is not a comment line (it holds no '!') is the header
// when it is a names line that ends with a line feed and the next line that
// is not a comment line is a row of as many values as there are names, split
// like values or else between commas.
// Every other line with names stays what it was: a row the reader refuses.
// Neither line may be longer than header_line_bytes (f.line_limit is set to
// that, so that a file of very long lines costs no more memory here than a
// few buffers). `f` is left wherever the reading stopped.
HeaderLine find_header(TextFile& f);

// The longest header line, and row after it, that find_header takes.
constexpr std::size_t header_line_bytes = std::size_t{1} << 20;

// Reads `f`, freshly opened at the start of the text, past its header line
// `h` (nothing when there is none): the next text_read_line or read_row
// reads the first line after it.
void skip_header(TextFile& f, const HeaderLine& h);

}  // namespace kmeans
