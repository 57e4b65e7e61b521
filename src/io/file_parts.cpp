#include "io/file_parts.h"

#include <algorithm>
#include <climits>

#include "base/keyboard.h"

namespace kmeans {

std::int64_t part_bytes_for(std::int64_t size, int threads) {
    const std::int64_t parts = static_cast<std::int64_t>(threads) * 8;
    return std::clamp<std::int64_t>(size / parts + 1, std::int64_t{64} << 10, std::int64_t{1} << 20);
}

std::size_t part_count(std::int64_t size, std::int64_t part_bytes) {
    return static_cast<std::size_t>(std::max<std::int64_t>(1, (size + part_bytes - 1) / part_bytes));
}

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

// Empties `part` for the next part's rows.
static void empty_part(Part& part) {
    part.filled = 0;
    part.rows = 0;
    part.nvars = 0;
    part.end = PartEnd::none;
    part.why = RowRefusal{};
    part.newlines = 0;
    part.left_out = 0;
    part.left_out_mark = false;
}

// Room for the next row after the part's rows: max_vars floats, the buffer
// grown (by doubling) when it has not that much left.
static float* row_room(Part& part) {
    constexpr std::size_t room = max_vars;
    if (part.values.size() - part.filled < room)
        part.values.resize(std::max(2 * part.values.size(), part.filled + room));
    return part.values.data() + part.filled;
}

// Empties `part` and opens its lines from plan.data_from on; false when no
// such line starts in it.
static bool open_part(Part& part, const PartPlan& plan, std::size_t i) {
    empty_part(part);
    const std::int64_t from = static_cast<std::int64_t>(i) * plan.part_bytes;
    const std::int64_t to = i + 1 == plan.parts ? -1 : from + plan.part_bytes;
    std::int64_t start = next_line_start(plan.fd, from, to < 0 ? plan.size : std::min(to, plan.size), part.scratch);
    if (start < 0) return false;
    if (start < plan.data_from) {
        if (to >= 0 && plan.data_from >= to) return false;
        start = plan.data_from;  // a line start: the one after the header
    }
    text_open_range(part.text, plan.fd, start, to, plan.size);
    return true;
}

void read_part(Part& part, const PartPlan& plan, std::size_t i, bool count_left_out) {
    if (!open_part(part, plan, i)) return;
    read_part_rows(part, count_left_out);
}

void read_part_rows(Part& part, bool count_left_out) {
    empty_part(part);
    int nvars = 0;
    for (;;) {
        float* row = row_room(part);
        if (nvars > 0) {
            // The rows that lie plain in the read buffer, at once.
            const std::int64_t room = static_cast<std::int64_t>((part.values.size() - part.filled) / nvars);
            if (const std::int64_t rows = read_rows_to(part.text, row, room, nvars); rows > 0) {
                ranges_update_rows(part.ranges, row, rows, nvars);
                part.filled += static_cast<std::size_t>(rows * nvars);
                part.rows += rows;
                continue;
            }
        }
        const int n = read_row_to(part.text, row, nvars, part.why);
        if (n > 0) {
            if (part.rows == 0) {
                part.nvars = n;
                part.first_line = part.text.line;
                ranges_reset(part.ranges);
            }
            ranges_update(part.ranges, row, n);
            part.filled += static_cast<std::size_t>(n);
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

void reread_part(Part& part, const PartPlan& plan, std::size_t i, std::int64_t rows, int nvars) {
    if (!open_part(part, plan, i)) {
        if (rows != 0) part.end = PartEnd::changed;
        return;
    }
    int fixed = nvars;  // every row must hold nvars values
    const std::size_t all = static_cast<std::size_t>(rows) * static_cast<std::size_t>(nvars) + max_vars;
    if (part.values.size() < all) part.values.resize(all);
    while (part.rows < rows) {
        float* row = row_room(part);
        std::int64_t got = read_rows_to(part.text, row, rows - part.rows, nvars);
        if (got == 0) {
            if (read_row_to(part.text, row, fixed, part.why) != nvars) {
                part.end = PartEnd::changed;
                return;
            }
            got = 1;
        }
        part.filled += static_cast<std::size_t>(got * nvars);
        part.rows += got;
    }
    // After the rows the first pass found, the part or the data end.
    if (read_row_to(part.text, row_room(part), fixed, part.why) != row_end) part.end = PartEnd::changed;
}

}  // namespace kmeans
