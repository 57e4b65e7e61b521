#include "io/data_file.h"

#include "base/registry.h"

namespace kmeans {

void data_open(DataFile& d, const std::string& name) {
    d.name = name;
    text_open_or_panic(d.text, name);
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

void rows_rewind(DataFile& d) { text_rewind(d.text); }

[[noreturn]] static void file_changed(const DataFile& d) {
    panic(5, "\nPANIC: Datafile changed while it was read: %s\n\n", d.name.c_str());
}

bool next_row(DataFile& d, std::int64_t r) {
    int n = read_row(d.text, d.row, d.nvars);
    if (n == row_end) {
        if (r != d.N) file_changed(d);
        return false;
    }
    if (n < 0 || r >= d.N) file_changed(d);
    return true;
}

}  // namespace kmeans
