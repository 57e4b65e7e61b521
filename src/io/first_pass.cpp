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
#include "io/pass_join.h"

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
// Returns false when the rows are kept nowhere (the data file must be read
// again).
static bool keep_rows(DataFile& d, const float* values, std::size_t n, std::size_t expected) {
    if (d.source == RowSource::memory) {
        if (expected <= d.table.limit && table_append(d.table, values, n)) return true;
        if (spill_open(d.spill, d.spill_places) &&
            spill_append(d.spill, d.table.values, d.table.used, d.spill_places))
            d.source = RowSource::spill;
        else
            read_again(d);
        table_release(d.table);
    }
    if (d.source == RowSource::spill && !spill_append(d.spill, values, n, d.spill_places)) read_again(d);
    return d.source != RowSource::file;
}

void join_start(PassJoin& j, TextFile& start) {
    DataFile& d = j.d;
    d.nvars = 0;
    // A table that cannot be had (a budget of 0) sends the first rows on.
    table_reserve(d.table, table_budget(j.p.resources));
    d.source = RowSource::memory;
    d.spill_places = j.p.resources.spill_dir == spill_off ? std::vector<std::string>{}
                                                          : spill_places(j.p.resources, d.path);
    j.warn = true;  // lost lines of data are reported at every quiet level
    d.header = find_header(start);
    if (!has_header(d.header)) return;
    j.lines_before = d.header.newlines;
    const int names = static_cast<int>(d.header.names.size());
    say(j.p.levels, Show::quiet_lt3, stderr,
        names == 1 ? "INFO: Header line skipped: %s (%d name)\n" : "INFO: Header line skipped: %s (%d names)\n",
        d.name.c_str(), names);
    if (d.header.names[0].empty())
        emit(stderr,
             "VARNING: Column 1 of %s has no name in the header line (a row index?); it is clustered like the "
             "others.\n",
             d.name.c_str());
}

// A refused row: its "\nstr:" line at once, before the spinner turns, as
// the reader meets it; the spinner; the failure that ends the pass.
static void refuse(PassJoin& j, RowRefusal why, const std::string& line) {
    // A row cut short or run together by an edit made during the pass is no
    // bad row of the file that was opened.
    if (!data_unchanged(j.d)) {
        j.failure = data_changed(j.d);
        j.ended = true;
        return;
    }
    if (why.kind == row_count_mismatch) {
        why.expected = j.d.nvars;
        emit(stderr, "%s", row_reason(why, line).c_str());
    }
    if (spinner_due(j.rowno)) spin(j.p.levels, j.d.spinner);
    Failure f;
    f.what = Fault::bad_row;
    f.path = j.d.name;
    f.row = j.rowno;
    if (why.kind != row_count_mismatch) f.reason = data_row_reason(why, line);
    j.failure = f;
    j.ended = true;
}

void join_fail(PassJoin& j, Failure f) {
    if (f.what == Fault::bad_row) f.row = j.rowno;
    j.failure = f;
    j.ended = true;
}

bool join_part(PassJoin& j, Part& part, std::size_t expected) {
    if (j.ended) return true;
    DataFile& d = j.d;
    if (part.rows > 0) {
        if (d.nvars == 0) d.nvars = part.nvars;
        if (part.nvars != d.nvars) {
            RowRefusal why;
            why.kind = row_count_mismatch;
            why.count = part.nvars;
            refuse(j, why, part.first_line);
            return true;
        }
        if (j.ranges) ranges_merge(*j.ranges, part.ranges, d.nvars);
        if (!keep_rows(d, part.values.data(), part.filled, expected) && j.rows_must_stay) {
            Failure f;
            f.what = Fault::memory_compressed;
            f.path = d.name;
            f.bytes = static_cast<long long>(table_budget(j.p.resources));
            join_fail(j, f);
            return true;
        }
        for (std::int64_t r = 0; r < part.rows; ++r, ++j.rowno)
            if (spinner_due(j.rowno)) spin(j.p.levels, d.spinner);
    }
    if (part.end == PartEnd::refused) {
        refuse(j, part.why, part.end_line);
        return true;
    }
    if (part.end == PartEnd::data) {
        j.ended = true;
        j.end = part.why;
        j.end.line += j.lines_before;
        j.left_out = part.left_out;
        j.left_out_mark = part.left_out_mark;
        return true;
    }
    j.lines_before += part.newlines;
    return false;
}

Failure join_finish(PassJoin& j) {
    DataFile& d = j.d;
    // The pass read what the file held when it was opened: it must hold that still.
    if (!failed(j.failure) && !data_unchanged(d)) j.failure = data_changed(d);
    if (failed(j.failure)) {
        table_release(d.table);
        spill_close(d.spill);
        d.source = RowSource::file;
        return j.failure;
    }
    d.N = j.rowno - 1;
    if (rows_in_memory(d)) table_trim(d.table);
    if (j.ended && j.end.end == DataEnd::empty_row && j.warn && j.left_out > 0) {
        const char* fmt = j.left_out == 1
                              ? "\nVARNING: The data of %s end at line %lld; %lld more line is left out.\n"
                              : "\nVARNING: The data of %s end at line %lld; %lld more lines are left out.\n";
        emit(stderr, fmt, d.name.c_str(), static_cast<long long>(j.end.line), static_cast<long long>(j.left_out));
    }
    return Failure{};
}

Failure first_pass(const Params& p, DataFile& d, Ranges* ranges) {
    if (d.compression != Compression::none) return first_pass_compressed(p, d, ranges, std::size_t{1} << 20);
    return first_pass_in_parts(p, d, ranges, part_bytes_for(d.size, d.workers->threads));
}

Failure first_pass_in_parts(const Params& p, DataFile& d, Ranges* ranges, std::int64_t part_bytes) {
    PassJoin j{.p = p, .d = d, .ranges = ranges};
    {
        TextFile start;
        start.buffer_bytes = std::size_t{64} << 10;
        text_open_range(start, d.text.fd, 0, -1, d.size);
        join_start(j, start);
    }
    const std::int64_t size = d.size;
    const std::size_t parts = part_count(size, part_bytes);
    d.part_bytes = part_bytes;
    d.part_rows.assign(parts, 0);
    const PartPlan plan{d.text.fd, size, part_bytes, parts, d.header.data_from};
    const std::size_t window = static_cast<std::size_t>(d.workers->threads) * 2;
    std::vector<Part> slots(window);
    std::atomic<std::size_t> last_part{parts};  // parts after it need no reading
    std::size_t end_part = 0;

    auto map = [&](std::size_t i, int) {
        Part& part = slots[i % window];
        if (i > last_part.load(std::memory_order_relaxed)) {
            part.rows = 0;
            part.end = PartEnd::none;
            return;
        }
        read_part(part, plan, i, j.warn);
    };
    auto reduce = [&](std::size_t i) {
        if (j.ended) return;
        Part& part = slots[i % window];
        const std::size_t expected =
            i == 0 && parts > 1 ? static_cast<std::size_t>(static_cast<double>(part.filled) *
                                                           static_cast<double>(size) /
                                                           static_cast<double>(part_bytes))
                                : 0;
        if (join_part(j, part, expected)) {
            end_part = i;
            last_part.store(failed(j.failure) ? 0 : i, std::memory_order_relaxed);
        }
        if (!failed(j.failure)) d.part_rows[i] = part.rows;
    };
    run_ordered(*d.workers, parts, window, map, reduce);

    if (!failed(j.failure) && j.ended) {
        d.part_rows.resize(end_part + 1);  // later passes read no part after the data end
        // The lines left out after an empty row in the parts after its own.
        if (j.end.end == DataEnd::empty_row && j.warn && !j.left_out_mark && end_part + 1 < parts) {
            const std::int64_t from = next_line_start(d.text.fd, static_cast<std::int64_t>(end_part + 1) * part_bytes,
                                                      size, slots[0].scratch);
            if (from >= 0) {
                TextFile rest;
                text_open_range(rest, d.text.fd, from, -1, size);
                bool at_mark = false;
                j.left_out += lines_left_out(rest, true, at_mark);
            }
        }
    }
    return join_finish(j);
}

}  // namespace kmeans
