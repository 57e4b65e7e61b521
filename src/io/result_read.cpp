#include "io/result_read.h"

#include <charconv>
#include <string_view>

#include "base/limits.h"
#include "io/centre_file.h"
#include "io/read_row.h"
#include "io/row_stream.h"

namespace kmeans {

namespace {

// Reads the next row of `f` into `row` without the reader's own count check
// (and its console message): the callers compare counts themselves and say
// what is wrong in one line.
int next_row(TextFile& f, float* row) {
    int any = 0;
    return read_row(f, row, any);
}

// The reason a compressed data file's text stopped short, as a plot
// message: "D.DAT.gz: the compressed data are cut short".
std::string damaged(const std::string& path, const std::string& reason) {
    std::string r = reason.substr(reason.empty() || reason[0] != '\n' ? 0 : 1);
    if (!r.empty() && r.back() == '.') r.pop_back();
    if (!r.empty() && r[0] >= 'A' && r[0] <= 'Z') r[0] = static_cast<char>(r[0] - 'A' + 'a');
    return path + ": " + r;
}

// The reason for a data row that read_row refused or whose count differs.
std::string bad_data_row(const std::string& path, std::int64_t row, int n, int nvars) {
    if (n > 0)
        return path + ": data row " + std::to_string(row) + " holds " + std::to_string(n) + " values, the first row " +
               std::to_string(nvars);
    return path + ": bad data row " + std::to_string(row);
}

// A cluster value file read line by line.
struct LabelReader {
    TextFile f;
    std::string path;
    bool recall = false;
    std::int64_t line = 0;  // lines read, the header included
};

enum class Label { value, end, bad };

// Reads the next cluster number into `v`; `end` at the end of the file,
// `bad` (with `err`) for a line that holds no integer. Blanks around the
// number are allowed; the carriage return of a CR/LF line is already gone.
Label next_label(LabelReader& r, int& v, std::string& err) {
    for (;;) {
        if (!text_read_line(r.f)) return Label::end;
        ++r.line;
        std::string_view s = r.f.line;
        if (r.recall && r.line == 1 && s.find("MaxDist:") != std::string_view::npos) continue;
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        auto res = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || res.ec != std::errc{} || res.ptr != s.data() + s.size()) {
            err = r.path + ": line " + std::to_string(r.line) + " is not a cluster number";
            return Label::bad;
        }
        return Label::value;
    }
}

}  // namespace

bool data_width(const std::string& path, int& nvars, std::vector<std::string>& names, std::string& err) {
    RowStream f;
    int why = 0;
    if (!stream_open(f, path, why)) {
        err = "cannot open " + path;
        return false;
    }
    std::vector<float> row(max_vars);
    int any = 0;
    int n = stream_row(f, row.data(), any);
    names = f.header.names;
    if (n <= 0 && !stream_damage(f).empty()) {
        err = damaged(path, stream_damage(f));
        stream_close(f);
        return false;
    }
    if (n == row_end) {
        err = path + ": no data rows";
    } else if (n < 0) {
        err = bad_data_row(path, 1, n, 0);
    }
    stream_close(f);
    nvars = n;
    return n > 0;
}

bool read_centres(const std::string& path, CentreRows& c, std::string& err) {
    TextFile f;
    if (!text_open(f, path)) {
        err = "cannot open " + path;
        return false;
    }
    std::vector<float> row(max_vars);
    c = CentreRows{};
    for (int rows = 0;; ++rows) {
        int n = next_row(f, row.data());
        if (n == row_end) break;
        if (n < 0) {
            err = report_line(f.line) ? path + ": a report written with -D, not a centre file"
                                      : path + ": bad row " + std::to_string(rows + 1);
            text_close(f);
            return false;
        }
        if (rows == 0) continue;  // MaxDist
        if (c.K > 0 && n != c.nvars) {
            err = path + ": centre " + std::to_string(c.K + 1) + " holds " + std::to_string(n) +
                  " values, the first " + std::to_string(c.nvars);
            text_close(f);
            return false;
        }
        c.nvars = n;
        c.values.insert(c.values.end(), row.begin(), row.begin() + n);
        ++c.K;
    }
    text_close(f);
    if (c.K == 0) {
        err = path + ": no centres";
        return false;
    }
    return true;
}

bool count_labels(const std::string& path, int K, const std::string& centre_path, bool recall, LabelCounts& lc,
                  std::string& err) {
    LabelReader r;
    r.path = path;
    r.recall = recall;
    if (!text_open(r.f, path)) {
        err = "cannot open " + path;
        return false;
    }
    lc = LabelCounts{};
    lc.counts.assign(static_cast<std::size_t>(K) + 1, 0);
    Label got;
    for (int v; (got = next_label(r, v, err)) == Label::value;) {
        if (v == -1 && recall) {
            ++lc.counts[0];
        } else if (v >= 1 && v <= K) {
            ++lc.counts[static_cast<std::size_t>(v)];
        } else {
            err = path + ": line " + std::to_string(r.line) + ": cluster " + std::to_string(v) + " is not " +
                  (recall ? "-1 nor " : "") + "between 1 and " + std::to_string(K) + " (" + centre_path + " holds " +
                  std::to_string(K) + (K == 1 ? " centre)" : " centres)");
            got = Label::bad;
            break;
        }
        ++lc.lines;
    }
    text_close(r.f);
    return got == Label::end;
}

bool each_labelled_row(const std::string& data_path, const std::string& label_path, bool recall, int K,
                       std::int64_t total, const std::function<void(std::int64_t, const float*, int)>& on_row,
                       std::string& err) {
    RowStream data;
    LabelReader labels;
    labels.path = label_path;
    labels.recall = recall;
    int why = 0;
    if (!stream_open(data, data_path, why)) {
        err = "cannot open " + data_path;
        return false;
    }
    if (!text_open(labels.f, label_path)) {
        stream_close(data);
        err = "cannot open " + label_path;
        return false;
    }
    std::vector<float> row(max_vars);
    int nvars = 0;
    std::int64_t rows = 0;
    bool ok = true;
    for (;;) {
        int any = 0;
        int n = stream_row(data, row.data(), any);
        if (n <= 0 && !stream_damage(data).empty()) {
            err = damaged(data_path, stream_damage(data));
            ok = false;
            break;
        }
        if (n == row_end) break;
        if (n < 0 || (nvars != 0 && n != nvars)) {
            err = bad_data_row(data_path, rows + 1, n, nvars);
            ok = false;
            break;
        }
        nvars = n;
        // Past the cluster numbers only the rows are still counted, for the message.
        if (rows < total) {
            int k = 0;
            if (next_label(labels, k, err) != Label::value) {
                ok = false;  // the file changed since count_labels read it
                if (err.empty()) err = label_path + " changed while it was read";
                break;
            }
            if (!((k == -1 && recall) || (k >= 1 && k <= K))) {
                ok = false;
                err = label_path + " changed while it was read";
                break;
            }
            on_row(rows, row.data(), k);
        }
        ++rows;
    }
    stream_close(data);
    text_close(labels.f);
    if (ok && rows != total) {
        err = label_path + " holds " + std::to_string(total) + " cluster numbers, " + data_path + " " +
              std::to_string(rows) + " data rows";
        ok = false;
    }
    return ok;
}

}  // namespace kmeans
