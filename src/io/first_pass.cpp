// The first pass over a data file, on every thread: the file is cut into
// parts at line starts, each part is read by one thread (rows, the ranges
// of its rows, and the first thing in it that ends or refuses the data),
// and the parts are joined in file order on the calling thread. The join
// decides exactly what one reader going through the file would: the row
// count of the first row fixes nvars, the first refused row in file order
// stops the run with its row number and reason, the data end at the first
// empty row or Ctrl-Z, and nothing after that end counts, even where another
// thread has already read it.
#include <algorithm>
#include <atomic>
#include <cfloat>
#include <sys/stat.h>

#include "base/registry.h"
#include "io/data_file.h"

namespace kmeans {

namespace {

// What ended a part's reading of rows before its last line.
enum class PartEnd : unsigned char {
    none,     // every line of the part was read
    data,     // the data end here: an empty row or a Ctrl-Z (why.end says which)
    refused,  // a row the reader refused (why.kind says why)
};

// One part of the file as a thread read it.
struct Part {
    TextFile text;
    std::vector<char> scratch;     // bytes looked at to find the part's first line
    std::vector<float> values;     // its rows, row after row
    std::vector<float> row;        // the row being read
    std::vector<float> min, max;   // the ranges of its rows, `nvars` values each
    std::int64_t rows = 0;
    int nvars = 0;                 // values of its first row (0: no row)
    std::string first_line;        // the line of its first row
    PartEnd end = PartEnd::none;
    RowRefusal why;                // what ended it
    std::string end_line;          // the line of a refused row
    std::int64_t newlines = 0;     // line feeds up to where its reading ended
    std::int64_t left_out = 0;     // after an empty row: lines with text that follow in the part
    bool left_out_mark = false;    // that count ended at a Ctrl-Z
};

}  // namespace

std::int64_t lines_left_out(TextFile& f, bool poll, bool& at_mark) {
    std::int64_t left = 0;
    std::int64_t last = 0;  // the line last counted: a Ctrl-Z inside a line splits it in two
    while (text_read_line(f)) {
        if (poll) poll_cancel();
        if (f.cut_bang || f.line.find('!') != std::string::npos) continue;
        if (f.line_no == last) continue;
        if (f.line_cut || f.line.find_first_not_of(" \t\r\n\f\v") != std::string::npos) {
            ++left;
            last = f.line_no;
        }
    }
    at_mark = !f.eof;
    return left;
}

// Reads the part of the file from the first line start at or after `from`
// to the last line that starts before `to` (-1: the end of the file).
// `count_left_out`: whether to count the lines left out after an empty row.
static void read_part(Part& part, int fd, std::int64_t from, std::int64_t to, bool count_left_out) {
    part.values.clear();
    part.rows = 0;
    part.nvars = 0;
    part.end = PartEnd::none;
    part.why = RowRefusal{};
    part.newlines = 0;
    part.left_out = 0;
    part.left_out_mark = false;
    const std::int64_t start = next_line_start(fd, from, to < 0 ? INT64_MAX : to, part.scratch);
    if (start < 0) return;  // no line starts in the part
    text_open_range(part.text, fd, start, to);
    if (part.row.size() != static_cast<std::size_t>(max_vars)) part.row.assign(max_vars, 0.0f);
    int nvars = 0;
    for (;;) {
        const int n = read_row(part.text, part.row.data(), nvars, part.why);
        if (n > 0) {
            if (part.rows == 0) {
                part.nvars = n;
                part.first_line = part.text.line;
                part.min.assign(static_cast<std::size_t>(n), FLT_MAX);
                part.max.assign(static_cast<std::size_t>(n), -FLT_MAX);
            }
            for (int v = 0; v < n; ++v) {
                const float x = part.row[static_cast<std::size_t>(v)];
                if (x < part.min[static_cast<std::size_t>(v)]) part.min[static_cast<std::size_t>(v)] = x;
                if (x > part.max[static_cast<std::size_t>(v)]) part.max[static_cast<std::size_t>(v)] = x;
            }
            part.values.insert(part.values.end(), part.row.begin(), part.row.begin() + n);
            ++part.rows;
            continue;
        }
        if (n == row_end) {
            if (part.why.end == DataEnd::file_end) break;  // the part (or the file) has no more lines
            part.end = PartEnd::data;
            if (part.why.end == DataEnd::empty_row && count_left_out)
                part.left_out = lines_left_out(part.text, false, part.left_out_mark);
        } else {
            part.end = PartEnd::refused;
            part.end_line = part.text.line;
        }
        break;
    }
    part.newlines = part.text.newlines;
}

// The size of a part: parts enough for every thread to have several, none
// so small that its overhead counts, none so large that its buffers do.
static std::int64_t part_bytes_for(std::int64_t size, int threads) {
    const std::int64_t parts = static_cast<std::int64_t>(threads) * 8;
    return std::clamp<std::int64_t>(size / parts + 1, std::int64_t{64} << 10, std::int64_t{4} << 20);
}

std::int64_t first_pass(const Params& p, DataFile& d, Ranges* ranges) {
    struct stat st{};
    fstat(d.text.fd, &st);
    return first_pass_in_parts(p, d, ranges, part_bytes_for(st.st_size, d.workers->threads));
}

std::int64_t first_pass_in_parts(const Params& p, DataFile& d, Ranges* ranges, std::int64_t part_bytes) {
    d.nvars = 0;
    table_reserve(d.table, table_budget(p));
    struct stat st{};
    fstat(d.text.fd, &st);
    const std::int64_t size = st.st_size;
    const std::size_t parts = static_cast<std::size_t>(std::max<std::int64_t>(1, (size + part_bytes - 1) / part_bytes));
    const std::size_t window = static_cast<std::size_t>(d.workers->threads) * 2;
    std::vector<Part> slots(window);
    const bool warn = shown(p, Show::quiet_lt3);
    std::atomic<std::size_t> last_part{parts};  // parts after it need no reading

    std::int64_t rowno = 1;        // the number of the next row
    std::int64_t lines_before = 0; // line feeds before the part being joined
    bool ended = false;
    RowRefusal end;                // how the data ended (an empty row: where)
    std::int64_t left_out = 0;
    std::size_t end_part = 0;
    bool left_out_mark = false;

    auto map = [&](std::size_t i, int) {
        Part& part = slots[i % window];
        if (i > last_part.load(std::memory_order_relaxed)) {
            part.rows = 0;
            part.end = PartEnd::none;
            return;
        }
        const std::int64_t from = static_cast<std::int64_t>(i) * part_bytes;
        const std::int64_t to = i + 1 == parts ? -1 : from + part_bytes;
        read_part(part, d.text.fd, from, to, warn);
    };

    // A refused row: its reason (a count mismatch at once, before the
    // spinner turns, as the reader meets it), the spinner, the PANIC.
    auto refuse = [&](RowRefusal why, const std::string& line) {
        if (why.kind == row_count_mismatch) {
            why.expected = d.nvars;
            emit(stderr, "%s", row_reason(why, line).c_str());
        }
        if (spinner_due(rowno)) spin(p, d.spinner);
        panic(5, "%s\nPANIC: Bad datafile: %s  Datarow:%lld\n",
              why.kind == row_count_mismatch ? "" : row_reason(why, line).c_str(), d.name.c_str(),
              static_cast<long long>(rowno));
    };

    auto reduce = [&](std::size_t i) {
        if (ended) return;
        Part& part = slots[i % window];
        if (part.rows > 0) {
            if (d.nvars == 0) d.nvars = part.nvars;
            if (part.nvars != d.nvars) {
                RowRefusal why;
                why.kind = row_count_mismatch;
                why.count = part.nvars;
                refuse(why, part.first_line);
            }
            const std::size_t width = static_cast<std::size_t>(d.nvars);
            if (ranges) {
                for (std::size_t v = 0; v < width; ++v) {
                    if (part.min[v] < ranges->min[v]) ranges->min[v] = part.min[v];
                    if (part.max[v] > ranges->max[v]) ranges->max[v] = part.max[v];
                }
            }
            if (table_held(d.table)) {
                table_append(d.table, part.values.data(), part.values.size());
                // After the first part, a table that will clearly not fit
                // is given up at once rather than when the budget is full.
                if (i == 0 && parts > 1)
                    table_expect(d.table, static_cast<std::size_t>(static_cast<double>(part.values.size()) *
                                                                   static_cast<double>(size) /
                                                                   static_cast<double>(part_bytes)));
            }
            for (std::int64_t r = 0; r < part.rows; ++r, ++rowno)
                if (spinner_due(rowno)) spin(p, d.spinner);
        }
        if (part.end == PartEnd::refused) refuse(part.why, part.end_line);
        if (part.end == PartEnd::data) {
            ended = true;
            end = part.why;
            end.line += lines_before;
            left_out = part.left_out;
            left_out_mark = part.left_out_mark;
            end_part = i;
            last_part.store(i, std::memory_order_relaxed);
        }
        lines_before += part.newlines;
    };

    run_ordered(*d.workers, parts, window, map, reduce);
    d.N = rowno - 1;
    table_trim(d.table);

    // The lines left out after an empty row in the parts after its own.
    if (ended && end.end == DataEnd::empty_row && warn) {
        if (!left_out_mark && end_part + 1 < parts) {
            const std::int64_t from = next_line_start(d.text.fd, static_cast<std::int64_t>(end_part + 1) * part_bytes,
                                                      INT64_MAX, slots[0].scratch);
            if (from >= 0) {
                TextFile rest;
                text_open_range(rest, d.text.fd, from, -1);
                bool at_mark = false;
                left_out += lines_left_out(rest, true, at_mark);
            }
        }
        if (left_out > 0) {
            const char* fmt = left_out == 1
                                  ? "\nVARNING: The data of %s end at line %lld; %lld more line is left out.\n"
                                  : "\nVARNING: The data of %s end at line %lld; %lld more lines are left out.\n";
            emit(stderr, fmt, d.name.c_str(), static_cast<long long>(end.line), static_cast<long long>(left_out));
        }
    }
    return d.N;
}

}  // namespace kmeans
