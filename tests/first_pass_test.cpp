// The first pass cut into parts read on several threads decides exactly
// what one reader going through the file row by row decides: the rows and
// their ranges, where the data end (and the warning about lines left out),
// the first refused row with its number and reason, and the spinner. Every
// text is read with parts of every size from one byte up, so that every
// line start, comment, carriage return and Ctrl-Z falls on a part boundary
// somewhere; and with one thread and several.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "base/console.h"
#include "base/parallel.h"
#include "base/registry.h"
#include "e2e.h"
#include "io/data_file.h"
#include "io/header.h"
#include "io/ranges.h"

using namespace kmeans;

namespace {

// What a first pass shows: the exit status a run would end with (0 when
// the pass succeeded), standard error with the text of the failure, and a
// summary of what it found (N, nvars, ranges, every value).
struct Seen {
    int status = -1;
    std::string err;
    std::string summary;
};

// Runs `pass` with standard error captured in a file; `pass` returns the
// status and fills the summary.
Seen captured(const std::function<int(std::string&)>& pass) {
    ScratchDir capture;
    const std::string err_path = (capture.path / "err").string();
    std::fflush(stderr);
    const int saved = dup(2);
    const int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
    Seen s;
    s.status = pass(s.summary);
    progress_flush();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    s.err = capture.read("err");
    return s;
}

std::string summary(const DataFile& d, const Ranges& r) {
    std::string s = "N=" + std::to_string(d.N) + " nvars=" + std::to_string(d.nvars) + "\n";
    char buf[64];
    for (int v = 0; v < d.nvars; ++v) {
        std::snprintf(buf, sizeof buf, "%a %a\n", static_cast<double>(r.min[v]), static_cast<double>(r.max[v]));
        s += buf;
    }
    return s;
}

// The model: one reader through the whole file, row by row, as the first
// pass has always gone (message order included); a refused row ends it with
// the text and status a run ends with.
int model_pass(const Params& p, const std::string& path, std::string& out) {
    auto d = std::make_unique<DataFile>();
    auto r = std::make_unique<Ranges>();
    ranges_reset(*r);
    d->name = "D.DAT";
    TextFile start;
    text_open(start, path);
    const HeaderLine h = find_header(start);
    text_close(start);
    if (has_header(h)) {
        emit(stderr, "INFO: Header line skipped: D.DAT (%d names)\n", static_cast<int>(h.names.size()));
        if (h.names[0].empty())
            emit(stderr, "VARNING: Column 1 of D.DAT has no name in the header line (a row index?); it is clustered"
                         " like the others.\n");
    }
    text_open(d->text, path);
    skip_header(d->text, h);
    std::int64_t rowno = 1;
    RowRefusal why;
    std::vector<float> row(max_vars);
    for (;;) {
        int n = read_row(d->text, row.data(), d->nvars, why);
        if (n == row_end) break;
        if (n == row_count_mismatch) emit(stderr, "%s", row_reason(why, d->text.line).c_str());
        if (spinner_due(rowno)) spin(p.levels, d->spinner);
        if (n < 0) {
            emit(stderr, "%s\nPANIC: Bad datafile: %s  Datarow:%lld\n",
                 n == row_count_mismatch ? "" : data_row_reason(why, d->text.line).c_str(), "D.DAT",
                 static_cast<long long>(rowno));
            return 5;
        }
        ranges_update(*r, row.data(), d->nvars);
        ++rowno;
    }
    d->N = rowno - 1;
    if (why.end == DataEnd::empty_row) {
        bool at_mark = false;
        const std::int64_t left = lines_left_out(d->text, true, at_mark);
        if (left > 0)
            emit(stderr, left == 1 ? "\nVARNING: The data of %s end at line %lld; %lld more line is left out.\n"
                                   : "\nVARNING: The data of %s end at line %lld; %lld more lines are left out.\n",
                 "D.DAT", static_cast<long long>(why.line), static_cast<long long>(left));
    }
    out = summary(*d, *r);
    return 0;
}

using Pass = std::function<Failure(const Params&, DataFile&, Ranges*)>;

// A first pass (in parts, or over a compressed file), ended as a run ends on
// its failure.
int run_pass(const Params& p, const std::string& path, int threads, const Pass& pass, std::string& out) {
    Workers workers;
    workers_start(workers, threads);
    auto d = std::make_unique<DataFile>();
    auto r = std::make_unique<Ranges>();
    ranges_reset(*r);
    if (failed(data_open(*d, path, workers))) return -1;
    d->name = "D.DAT";
    const Failure f = pass(p, *d, r.get());
    if (failed(f)) {
        emit(stderr, "%s", failure_text(f).c_str());
        data_close(*d);
        return failure_status(f);
    }
    std::string s = summary(*d, *r);
    // The rows kept are the rows read.
    if (rows_in_memory(*d)) {
        char buf[32];
        for (std::size_t i = 0; i < d->table.used; ++i) {
            std::snprintf(buf, sizeof buf, "%a ", static_cast<double>(d->table.values[i]));
            s += buf;
        }
    }
    data_close(*d);
    out = s;
    return 0;
}

// The values of the model's rows, in the form parts_pass lists them.
std::string model_values(const std::string& path) {
    TextFile f, start;
    text_open(start, path);
    text_open(f, path);
    skip_header(f, find_header(start));
    std::string s;
    std::vector<float> row(max_vars);
    int nvars = 0;
    char buf[32];
    for (int n; (n = read_row(f, row.data(), nvars)) > 0;)
        for (int v = 0; v < n; ++v) {
            std::snprintf(buf, sizeof buf, "%a ", static_cast<double>(row[static_cast<std::size_t>(v)]));
            s += buf;
        }
    return s;
}

// Many rows: enough for the spinner to turn.
std::string many_rows(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += std::to_string(i % 17) + " " + std::to_string(-i) + ".5\n";
    return s;
}

// The first pass in parts of `part_bytes` bytes.
int parts_pass(const Params& p, const std::string& path, int threads, std::int64_t part_bytes, std::string& out) {
    return run_pass(p, path, threads, [&](const Params& q, DataFile& d, Ranges* r) {
        return first_pass_in_parts(q, d, r, part_bytes);
    }, out);
}

// Texts of every kind the first pass meets.
std::vector<std::string> pass_texts() {
    const std::string rows = many_rows(150);
    return {
        "1 2\n3 4\n5 6\n",
        "! head\n1,2\r\n! mid 7 8\r\n3\t4\r\n\r\n5 6\n! tail\n",      // CR/LF, an empty line, more after it
        "1 2\n\n   \n! c\n\t\n",                                      // blank lines after the end: no warning
        "1 2\n- 5\n3 4\n5 6\n",                                       // a row without values ends the data
        "1 2\n3 4\x1a\x1a" "5 6\n7 8\n",                              // a Ctrl-Z in a line, then one at its start
        "1 2\r\r\n3 4\r\x1a" "5\n",                                   // a carriage return before a Ctrl-Z keeps it
        "\xEF\xBB\xBF" "1 2\n3 4\n",                                  // byte-order mark
        "1 2\n3 4\n5 6 7\n8 9\n",                                     // a row of another length
        "1 2\n3 4\n5 x\n",                                            // a bad character
        "1 2\n3 4\n5 4e38\n",                                         // out of range
        "1 2 3\n" + rows,                                             // the first row fixes nvars
        rows + "1 2 3\n" + rows,                                      // mismatch after spinner turns
        rows + "\n" + rows,                                           // empty line after 150 rows
        rows + "7 ;\n",                                               // bad row at 151
        "! only comments\n! two\n",
        "",
        "1 2\n3 4",                                                   // no final line feed
        "\n1 2\n",                                                    // the data end before they begin
        // Header lines: taken after comment lines and a byte-order mark, with
        // the row numbers and line numbers after them; refused as rows when
        // the next row has another count or they stand after a row.
        "x,y\n1 2\n3 4\n",
        "\xEF\xBB\xBF! note\n\"a\",\"b,c\"\r\n! c\n1,2\n3,4\n\n7 8\n",
        ",a,b\n0,1,2\n1,3,4\n",
        "! " + std::string(300, '-') + "\nfirst second\n" + rows + "1 2 3\n",
        "a b\n1 2 3\n4 5 6\n",
        "1 2\na b\n3 4\n",
    };
}

TEST(FirstPassParts, DecideWhatOneReaderDecides) {
    ScratchDir dir;
    for (const std::string& text : pass_texts()) {
        SCOPED_TRACE(::testing::PrintToString(text.substr(0, 60)));
        dir.write("D.DAT", text);
        const std::string path = (dir.path / "D.DAT").string();
        Params p;  // quiet level 0: the spinner and the warning are shown
        const Seen want = captured([&](std::string& out) { return model_pass(p, path, out); });
        const std::string values = want.status == 0 ? model_values(path) : "";
        for (int threads : {1, 3}) {
            for (std::int64_t part = 1; part <= static_cast<std::int64_t>(text.size()) + 2; ++part) {
                // Every size up to 24 bytes on three threads, then a sample.
                if (part > 24 && part % 11 != 0 && part != static_cast<std::int64_t>(text.size()) + 2) continue;
                if (threads == 1 && part % 5 != 1) continue;
                const Seen got = captured([&](std::string& out) { return parts_pass(p, path, threads, part, out); });
                ASSERT_EQ(got.status, want.status) << "part " << part << " threads " << threads << "\n" << got.err;
                ASSERT_EQ(got.err, want.err) << "part " << part << " threads " << threads;
                ASSERT_EQ(got.summary, want.summary + values) << "part " << part << " threads " << threads;
            }
        }
    }
}

// A compressed file's first pass decides what one reader of its text
// decides, with every chunk size (so that the lines that do not end within a
// batch are read from the decompressor itself); compressed data that stop
// short are refused at the row where they stop.
TEST(FirstPassCompressed, DecidesWhatOneReaderDecides) {
    ScratchDir dir;
    for (const std::string& text : pass_texts()) {
        SCOPED_TRACE(::testing::PrintToString(text.substr(0, 60)));
        dir.write("D.DAT", text);
        Params p;
        const std::string plain = (dir.path / "D.DAT").string();
        const Seen want = captured([&](std::string& out) { return model_pass(p, plain, out); });
        const std::string values = want.status == 0 ? model_values(plain) : "";
        // The chunks are cut alike whatever the decompressor: every size
        // for gzip, a few for zstd.
        for (const bool gzip : {true, false}) {
            dir.write("D.DAT.z", gzip ? gzip_bytes(text) : zstd_bytes(text));
            const std::string path = (dir.path / "D.DAT.z").string();
            for (int threads : {1, 3}) {
                for (std::size_t chunk = 1; chunk <= text.size() + 2; ++chunk) {
                    if (chunk > 12 && chunk % 37 != 0 && chunk != text.size() + 2) continue;
                    if (text.size() > 200 && chunk < 12 && chunk % 4 != 1) continue;  // the long ones less often
                    if ((threads == 1 || !gzip) && chunk % 6 != 1) continue;
                    const Seen got = captured([&](std::string& out) {
                        return run_pass(p, path, threads, [&](const Params& q, DataFile& d, Ranges* r) {
                            return first_pass_compressed(q, d, r, chunk);
                        }, out);
                    });
                    ASSERT_EQ(got.status, want.status) << "chunk " << chunk << " threads " << threads << "\n" << got.err;
                    ASSERT_EQ(got.err, want.err) << "chunk " << chunk << " threads " << threads;
                    ASSERT_EQ(got.summary, want.summary + values) << "chunk " << chunk << " threads " << threads;
                }
            }
        }
    }
    // Cut short: the rows of the whole lines before the cut are read, then
    // the text stops (a gzip member is decompressed as it comes).
    const std::string text = many_rows(150);
    const std::string packed = gzip_bytes(text);
    for (std::size_t cut : {std::size_t{0}, packed.size() / 2, packed.size() - 4}) {
        dir.write("C.DAT.gz", packed.substr(0, cut + 3));
        const std::string path = (dir.path / "C.DAT.gz").string();
        const Seen got = captured([&](std::string& out) {
            return run_pass(Params{}, path, 3, [&](const Params& q, DataFile& d, Ranges* r) {
                return first_pass_compressed(q, d, r, 100);
            }, out);
        });
        EXPECT_EQ(got.status, 5);
        const std::string tail = "\nThe compressed data are cut short.\nPANIC: Bad datafile: D.DAT  Datarow:";
        ASSERT_NE(got.err.find(tail), std::string::npos) << got.err;
        const long row = std::stol(got.err.substr(got.err.find(tail) + tail.size()));
        EXPECT_GE(row, 1);
        EXPECT_LE(row, 151);
        if (cut == packed.size() - 4) {
            EXPECT_EQ(row, 151);  // only the trailer is missing
        }
    }
}

// The header rule: which first line is a line of column names (passed
// over, its names kept, the rows counted after it), and which lines with
// names stay refused rows.
TEST(FirstPassHeader, NamesLineBeforeTheFirstRow) {
    const std::string info = "INFO: Header line skipped: D.DAT ";
    const std::string hint = " Mark a header or a note as a comment with \"!\" anywhere in its line.";
    struct Case {
        const char* what;
        std::string text;
        std::string names;  // joined with '|'; "-" for no header
        std::string err;    // standard error of the pass
        int status;
        std::int64_t N;
    };
    const Case cases[] = {
        {"quoted names", "\"a\",\"b, c\",\"d \"\"q\"\"\"\n1,2,3\n", "a|b, c|d \"q\"", info + "(3 names)\n", 0, 1},
        {"names with blanks, as CSV", "sepal length (cm), sepal width (cm)\r\n5.1,3.5\n4.9,3\n",
         "sepal length (cm)|sepal width (cm)", info + "(2 names)\n", 0, 2},
        {"an unnamed row index", ",x,y\n0,1,2\n1,3,4\n", "|x|y",
         info + "(3 names)\nVARNING: Column 1 of D.DAT has no name in the header line (a row index?); it is "
                "clustered like the others.\n", 0, 2},
        {"after a byte-order mark and comments", "\xEF\xBB\xBF! c\n! d\nx\ty\n! e\n1 2\n", "x|y",
         info + "(2 names)\n", 0, 1},
        {"one name", "total\n7\n8\n", "total", info + "(1 name)\n", 0, 2},
        {"quoted numbers are names", "\"1\",\"2\"\n3,4\n", "1|2", info + "(2 names)\n", 0, 1},
        {"a row of another count after it", "a b c\n1 2\n", "-",
         "\nRow holds the character \"a\" in column 1, which no number may hold." + hint +
             "\nPANIC: Bad datafile: D.DAT  Datarow:1\n", 5, 0},
        {"no row after it", "a b\n\n1 2\n", "-",
         "\nRow holds the character \"a\" in column 1, which no number may hold." + hint +
             "\nPANIC: Bad datafile: D.DAT  Datarow:1\n", 5, 0},
        {"a number among the names", "x 2019\n1 2\n", "-",
         "\nRow holds the character \"x\" in column 1, which no number may hold." + hint +
             "\nPANIC: Bad datafile: D.DAT  Datarow:1\n", 5, 0},
        {"names after a row", "1 2\nx y\n3 4\n", "-",
         "\nRow holds the character \"x\" in column 1, which no number may hold." + hint +
             "\nPANIC: Bad datafile: D.DAT  Datarow:2\n", 5, 0},
        {"a second names line", "x y\nu v\n1 2\n", "-",
         "\nRow holds the character \"x\" in column 1, which no number may hold." + hint +
             "\nPANIC: Bad datafile: D.DAT  Datarow:1\n", 5, 0},
        {"only letters a row may hold: the data end", "e E\n1 2\n", "-",
         "\nVARNING: The data of D.DAT end at line 1; 1 more line is left out.\n", 0, 0},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dir.write("D.DAT", c.text);
        std::string names = "-";
        std::int64_t N = -1;
        const Seen got = captured([&](std::string& out) {
            return run_pass(Params{}, (dir.path / "D.DAT").string(), 2, [&](const Params& q, DataFile& d, Ranges* r) {
                const Failure f = first_pass(q, d, r);
                if (has_header(d.header)) {
                    names.clear();
                    for (std::size_t i = 0; i < d.header.names.size(); ++i) names += (i ? "|" : "") + d.header.names[i];
                }
                N = d.N;
                return f;
            }, out);
        });
        EXPECT_EQ(got.status, c.status);
        EXPECT_EQ(got.err, c.err);
        EXPECT_EQ(names, c.names);
        if (c.status == 0) {
            EXPECT_EQ(N, c.N);
        }
    }
}

}  // namespace
