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

// A short reason for the rows that only this program refuses.
static const char* bad_row_reason(int result) {
    switch (result) {
        case row_too_many: return "\nRow holds more than 2048 values.";
        case row_out_of_range: return "\nValue beyond the single-precision range.";
        default: return "";
    }
}

std::int64_t first_pass(const Params& p, DataFile& d, Ranges* ranges) {
    d.nvars = 0;
    text_rewind(d.text);
    std::int64_t rowno = 1;
    for (;;) {
        int n = read_row(d.text, d.row, d.nvars);
        if (n == row_end) break;
        poll_cancel();
        if (spinner_due(rowno)) spin(p, d.spinner);
        if (n < 0)
            panic(5, "%s\nPANIC: Bad datafile: %s  Datarow:%lld\n", bad_row_reason(n), d.name.c_str(),
                  static_cast<long long>(rowno));
        if (ranges) ranges_update(*ranges, d.row, d.nvars);
        ++rowno;
    }
    d.N = rowno - 1;
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
