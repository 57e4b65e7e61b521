// Models of the row reader, written from the contract in io/read_row.h and
// sharing none of its code, for the fuzz harnesses to compare it with: the
// text-mode rules over a whole file held in memory, the row grammar with C's
// strtof (correctly rounded in glibc) as the conversion, and read_row's
// handling of comment lines, empty rows and value counts. Plus the helpers
// every harness needs: a check that aborts, and a regular file in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/read_row.h"

namespace kmeans {

// Ends the process with `what` on standard error when `ok` is false; the
// fuzzer takes the abort for a crash and keeps the input.
void require(bool ok, const char* what);

// One result of text_read_line over the model: a line, or an end of the lines.
struct ModelLine {
    bool end = false;          // no line: the end of the file, or a Ctrl-Z at the start of a line
    bool mark = false;         // the end is such a Ctrl-Z (reading goes on after it)
    std::string text;          // the line, its line feed included when it has one
    std::int64_t line_no = 0;  // 1-based line of the file where it starts
};

// `data` (a whole file) cut into lines by the text-mode rules: a leading
// UTF-8 byte-order mark passed over, a carriage return dropped and the byte
// after it taken as it is, a Ctrl-Z ending the line it stands in (or, at
// the start of a line, the lines: an entry with mark set). The last entry is
// always the end of the file (end set, mark not).
std::vector<ModelLine> model_lines(std::string_view data);

// One line into values by the row grammar: only digits, blank, tab, '.',
// ',', '-', '+', 'e', 'E', carriage return and line feed may stand in it;
// a value starts at a digit, '-' or '.' and is what C's "%f" reads there
// (optional '-', digits with at most one '.', at least one digit, then an
// exponent only when digits follow its 'e' and optional sign); what follows
// a value up to the next blank, tab or comma belongs to it, and a start that
// holds no number ends the row. Returns the number of values or
// row_bad_char, row_too_many, row_out_of_range with the fields of `why`
// that parse_row fills. `values` gets every value converted.
int model_parse(const std::string& line, std::vector<float>& values, RowRefusal& why);

// What one call of read_row gives.
struct ModelRow {
    int result = row_end;
    RowRefusal why;              // the fields read_row fills for `result`
    std::vector<float> values;   // a row's values (also those of row_count_mismatch)
    std::string line;            // the line read (empty for file_end and end_mark)
    std::int64_t line_no = 0;    // its line number (0 for file_end and end_mark)
};

// read_row over the model lines from `next` on (advanced past the lines
// used), with the value count `nvars` (0: fixed by the first row).
ModelRow model_read_row(const std::vector<ModelLine>& lines, std::size_t& next, int& nvars);

// Whether two refusals agree in the fields that read_row fills for a
// refusal of `kind` (or for row_end).
bool same_refusal(const RowRefusal& a, const RowRefusal& b);

// The bit patterns of `n` floats, so that -0 and 0 differ.
std::vector<std::uint32_t> float_bits(const float* values, std::size_t n);

// A regular file held in memory (memfd), opened by name like any file
// through /proc/self/fd.
struct MemoryFile {
    int fd = -1;
    std::string path;
};

// Creates the file; aborts when memfd_create fails.
MemoryFile memory_file_create(const char* name);

// Replaces the whole content of the file by [data, data + size).
void memory_file_set(const MemoryFile& m, const std::uint8_t* data, std::size_t size);

}  // namespace kmeans
