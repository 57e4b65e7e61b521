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

// The rows go no further than the data file: every later pass reads it
// again. Unless the spill file was turned off, an INFO line says why.
static void read_again(DataFile& d) {
    spill_close(d.spill);
    d.source = RowSource::file;
    if (!d.spill_places.empty())
        emit(stderr, "\nINFO: No spill file can be written in %s (%s) for the rows of %s beyond the memory budget:"
                     " they are read from it again on every pass.\n",
             d.spill.dir.c_str(), system_problem(d.spill.err).c_str(), d.name.c_str());
}

// Where the later passes take the rows from, decided here and only here: the
// rows are kept in memory while they fit the budget; from the first rows that
// do not (or memory that cannot be had) they go to a spill file, those kept so
// far first, and the table is given up; where no spill file can be written
// (read_again) every later pass reads the data file. `expected` is an
// estimate of all the values the file holds, known after its first part: a
// table that will clearly not fit is given up before the budget is full.
static void keep_rows(DataFile& d, const float* values, std::size_t n, std::size_t expected) {
    if (d.source == RowSource::memory) {
        if (expected <= d.table.limit && table_append(d.table, values, n)) return;
        if (spill_open(d.spill, d.spill_places) &&
            spill_append(d.spill, d.table.values, d.table.used, d.spill_places))
            d.source = RowSource::spill;
        else
            read_again(d);
        table_release(d.table);
    }
    if (d.source == RowSource::spill && !spill_append(d.spill, values, n, d.spill_places)) read_again(d);
}

Failure first_pass(const Params& p, DataFile& d, Ranges* ranges) {
    return first_pass_in_parts(p, d, ranges, part_bytes_for(d.size, d.workers->threads));
}

Failure first_pass_in_parts(const Params& p, DataFile& d, Ranges* ranges, std::int64_t part_bytes) {
    d.nvars = 0;
    // A table that cannot be had (a budget of 0) sends the first rows on.
    table_reserve(d.table, table_budget(p.resources));
    d.source = RowSource::memory;
    d.spill_places = p.resources.spill_dir == spill_off ? std::vector<std::string>{}
                                                        : spill_places(p.resources, d.path);
    const std::int64_t size = d.size;
    const std::size_t parts = part_count(size, part_bytes);
    d.part_bytes = part_bytes;
    d.part_rows.assign(parts, 0);
    const PartPlan plan{d.text.fd, size, part_bytes, parts};
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
        read_part(part, plan, i, true);
    };

    // A refused row: its "\nstr:" line at once, before the spinner turns,
    // as the reader meets it; the spinner; the failure that ends the pass.
    auto refuse = [&](RowRefusal why, const std::string& line) {
        ended = true;
        last_part.store(0, std::memory_order_relaxed);
        // A row cut short or run together by an edit made during the pass
        // is no bad row of the file that was opened.
        if (!data_unchanged(d)) {
            failure = data_changed(d);
            return;
        }
        if (why.kind == row_count_mismatch) {
            why.expected = d.nvars;
            emit(stderr, "%s", row_reason(why, line).c_str());
        }
        if (spinner_due(rowno)) spin(p.levels, d.spinner);
        failure.what = Fault::bad_row;
        failure.path = d.name;
        failure.row = rowno;
        if (why.kind != row_count_mismatch) failure.reason = row_reason(why, line);
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
    if (!failed(failure) && !data_unchanged(d)) failure = data_changed(d);
    if (failed(failure)) {
        table_release(d.table);
        spill_close(d.spill);
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
                                                      size, slots[0].scratch);
            if (from >= 0) {
                TextFile rest;
                text_open_range(rest, d.text.fd, from, -1, size);
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
