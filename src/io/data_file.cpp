#include "io/data_file.h"

#include <sys/stat.h>

#include "base/registry.h"

namespace kmeans {

[[noreturn]] static void file_changed(const DataFile& d) {
    panic(5, "\nPANIC: Datafile changed while it was read: %s\n\n", d.name.c_str());
}

void data_open(DataFile& d, const std::string& name) {
    d.name = name;
    text_open_or_panic(d.text, name);
    struct stat st{};
    fstat(d.text.fd, &st);
    d.size = st.st_size;
    d.mtime_sec = st.st_mtim.tv_sec;
    d.mtime_nsec = st.st_mtim.tv_nsec;
}

// Ends the run when the open file no longer has the size and modification
// time it had when it was opened. One fstat per pass.
static void check_unchanged(const DataFile& d) {
    struct stat st{};
    if (fstat(d.text.fd, &st) != 0 || st.st_size != d.size || st.st_mtim.tv_sec != d.mtime_sec ||
        st.st_mtim.tv_nsec != d.mtime_nsec)
        file_changed(d);
}

// Counts the lines from the file position to its end (or to a Ctrl-Z at the
// start of a line) that are neither comment lines nor blank: the lines that a
// row without values left out of the data.
static std::int64_t lines_left_out(TextFile& f) {
    std::int64_t left = 0;
    std::int64_t last = 0;  // the line last counted: a Ctrl-Z inside a line splits it in two
    while (text_read_line(f)) {
        poll_cancel();
        if (f.cut_bang || f.line.find('!') != std::string::npos) continue;
        if (f.line_no == last) continue;
        if (f.line_cut || f.line.find_first_not_of(" \t\r\n\f\v") != std::string::npos) {
            ++left;
            last = f.line_no;
        }
    }
    return left;
}

// When the data ended at a row without values and lines with text follow,
// says so: where the data end and how many lines are left out.
static void warn_left_out(const Params& p, DataFile& d, const RowRefusal& end) {
    if (end.end != DataEnd::empty_row || !shown(p, Show::quiet_lt3)) return;
    const std::int64_t left = lines_left_out(d.text);
    if (left == 0) return;
    const char* fmt = left == 1 ? "\nVARNING: The data of %s end at line %lld; %lld more line is left out.\n"
                                : "\nVARNING: The data of %s end at line %lld; %lld more lines are left out.\n";
    emit(stderr, fmt, d.name.c_str(), static_cast<long long>(end.line), static_cast<long long>(left));
}

std::int64_t first_pass(const Params& p, DataFile& d, Ranges* ranges) {
    d.nvars = 0;
    text_rewind(d.text);
    std::int64_t rowno = 1;
    RowRefusal why;
    for (;;) {
        int n = read_row(d.text, d.row, d.nvars, why);
        if (n == row_end) break;
        // The count mismatch is shown at once, before the spinner turns; the
        // other reasons end their line only with the PANIC.
        if (n == row_count_mismatch) emit(stderr, "%s", row_reason(why, d.text.line).c_str());
        poll_cancel();
        if (spinner_due(rowno)) spin(p, d.spinner);
        if (n < 0)
            panic(5, "%s\nPANIC: Bad datafile: %s  Datarow:%lld\n",
                  n == row_count_mismatch ? "" : row_reason(why, d.text.line).c_str(), d.name.c_str(),
                  static_cast<long long>(rowno));
        if (ranges) ranges_update(*ranges, d.row, d.nvars);
        ++rowno;
    }
    d.N = rowno - 1;
    warn_left_out(p, d, why);
    return d.N;
}

void rows_rewind(DataFile& d) {
    check_unchanged(d);
    text_rewind(d.text);
}

bool next_row(DataFile& d, std::int64_t r) {
    int n = read_row(d.text, d.row, d.nvars);
    if (n == row_end) {
        if (r != d.N) file_changed(d);
        check_unchanged(d);
        return false;
    }
    if (n < 0 || r >= d.N) file_changed(d);
    return true;
}

}  // namespace kmeans
