#include "data/data_file.h"

#include "cli/cleanup.h"
#include "cli/keyboard.h"
#include "cluster/ranges.h"

void data_open(DataFile& d, const std::string& name) {
    d.name = name;
    if (!text_open(d.text, name)) panic(4, "\nPANIC: Can't find/open file: %s\n\n", name.c_str());
}

// A short reason for the rows that only this program refuses.
static const char* bad_row_reason(int result) {
    switch (result) {
        case row_too_many: return "\nRow holds more than 2048 values.";
        case row_out_of_range: return "\nValue beyond the single-precision range.";
        default: return "";
    }
}

std::int64_t first_pass(const Params& p, DataFile& d, Spinner& spinner, Ranges* ranges) {
    d.nvars = 0;
    text_rewind(d.text);
    std::int64_t rowno = 1;
    for (;;) {
        int n = read_row(d.text, d.row, d.nvars);
        if (n == row_end) break;
        poll_cancel();
        if (p.quiet == 0 && rowno % 64 == 0) spin(p, spinner);
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

bool is_result_name(const std::string& arg) {
    static const char* const exts[] = {".KMC", ".KTF", ".KMR"};
    for (std::size_t i = 0; i + 4 <= arg.size(); ++i) {
        for (const char* ext : exts) {
            bool same = true;
            for (int j = 0; j < 4 && same; ++j) {
                char c = arg[i + j];
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
                same = c == ext[j];
            }
            if (same) return true;
        }
    }
    return false;
}

std::string result_name(const std::string& arg, const char* ext) {
    return arg.substr(0, arg.find('.')) + ext;
}
