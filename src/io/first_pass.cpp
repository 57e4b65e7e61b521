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

#include "io/data_file.h"
#include "io/file_parts.h"

namespace kmeans {

// Where the later passes take the rows from, decided here and only here: the
// rows are kept in memory while they fit the budget; the first row that
// does not (or memory that cannot be had) sends every later pass to the
// file, and the table is given up at once. `expected` is an estimate of all
// the values the file holds, known after its first part: a table that will
// clearly not fit is given up before the budget is full.
static void keep_rows(DataFile& d, const float* values, std::size_t n, std::size_t expected) {
    if (d.source != RowSource::memory) return;
    if (expected > d.table.limit || !table_append(d.table, values, n)) {
        table_release(d.table);
        d.source = RowSource::file;
    }
}

Failure first_pass(const Params& p, DataFile& d, Ranges* ranges) {
    return first_pass_in_parts(p, d, ranges, part_bytes_for(d.size, d.workers->threads));
}

Failure first_pass_in_parts(const Params& p, DataFile& d, Ranges* ranges, std::int64_t part_bytes) {
    d.nvars = 0;
    d.source = table_reserve(d.table, table_budget(p.resources)) ? RowSource::memory : RowSource::file;
    const std::int64_t size = d.size;
    const std::size_t parts = part_count(size, part_bytes);
    d.part_bytes = part_bytes;
    d.part_rows.assign(parts, 0);
    const std::size_t window = static_cast<std::size_t>(d.workers->threads) * 2;
    std::vector<Part> slots(window);
    std::atomic<std::size_t> last_part{parts};  // parts after it need no reading

    std::int64_t rowno = 1;        // the number of the next row
    std::int64_t lines_before = 0; // line feeds before the part being joined
    bool ended = false;            // the data ended (or a row was refused) in a part joined
    Failure failure;
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
        read_part(part, d.text.fd, i, parts, part_bytes, true);
    };

    // A refused row: its "\nstr:" line at once, before the spinner turns,
    // as the reader meets it; the spinner; the failure that ends the pass.
    auto refuse = [&](RowRefusal why, const std::string& line) {
        if (why.kind == row_count_mismatch) {
            why.expected = d.nvars;
            emit(stderr, "%s", row_reason(why, line).c_str());
        }
        if (spinner_due(rowno)) spin(p.levels, d.spinner);
        failure.what = Fault::bad_row;
        failure.path = d.name;
        failure.row = rowno;
        if (why.kind != row_count_mismatch) failure.reason = row_reason(why, line);
        ended = true;
        last_part.store(0, std::memory_order_relaxed);
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
                return refuse(why, part.first_line);
            }
            if (ranges) ranges_merge(*ranges, part.ranges, d.nvars);
            const std::size_t expected =
                i == 0 && parts > 1 ? static_cast<std::size_t>(static_cast<double>(part.values.size()) *
                                                               static_cast<double>(size) /
                                                               static_cast<double>(part_bytes))
                                    : 0;
            keep_rows(d, part.values.data(), part.values.size(), expected);
            for (std::int64_t r = 0; r < part.rows; ++r, ++rowno)
                if (spinner_due(rowno)) spin(p.levels, d.spinner);
            d.part_rows[i] = part.rows;
        }
        if (part.end == PartEnd::refused) return refuse(part.why, part.end_line);
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
    if (failed(failure)) {
        table_release(d.table);
        d.source = RowSource::file;
        return failure;
    }
    d.N = rowno - 1;
    if (ended) d.part_rows.resize(end_part + 1);  // later passes read no part after the data end
    if (rows_in_memory(d)) table_trim(d.table);

    // The lines left out after an empty row in the parts after its own.
    if (ended && end.end == DataEnd::empty_row) {
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
    return Failure{};
}

}  // namespace kmeans
