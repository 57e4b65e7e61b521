// Data files as they are exported and stored: with a header line of column
// names (pandas, spreadsheets), and compressed with gzip or zstd. Each gives
// the results of the same rows in a plain file, named as for any file, and
// what cannot be read is refused with the reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e.h"

namespace {

constexpr std::int64_t T0 = 1767225600;  // a known random start

// Rows in three groups of two values.
std::string rows_text() {
    std::string s;
    for (int i = 0; i < 90; ++i)
        s += std::to_string(i % 3 * 10 + i % 7) + "," + std::to_string(i % 3 * 10 - i % 5) + ".5\n";
    return s;
}

const std::string hint = " Mark a header or a note as a comment with \"!\" anywhere in its line.";

RunResult run_plot(const ScratchDir& dir, const std::vector<std::string>& args) {
    RunOptions opts;
    opts.binary = KMEANS_PLOT_BIN;
    return run_kmeans(dir, args, opts);
}

// A header line is passed over with one INFO line; the rows after it give
// the results of the same rows without it, in Learn and Recall, and their
// row numbers count from after it; an unnamed first column is warned about
// at every quiet level; kmeans-plot names its axes after the header.
TEST(InputE2E, HeaderLinesArePassedOverAndNameTheColumns) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    ScratchDir dir;
    const std::string rows = rows_text();
    dir.write("PLAIN.DAT", rows);
    dir.write("wine.csv", "alcohol,\"malic, acid\"\n" + rows);
    RunResult plain = run_kmeans(dir, {"PLAIN.DAT", "-K3", "-Q2"}, frozen_at(T0));
    ASSERT_EQ(plain.status, 0) << plain.err;
    RunResult r = run_kmeans(dir, {"wine.csv", "-K3", "-Q2"}, frozen_at(T0));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Creating files: wine.KMC     wine.KTF\nINFO: Header line skipped: wine.csv (2 names)\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(dir.read("wine.KMC"), dir.read("PLAIN.KMC"));
    EXPECT_EQ(dir.read("wine.KTF"), dir.read("PLAIN.KTF"));
    r = run_kmeans(dir, {"wine.csv", "-K3", "-Q3"}, frozen_at(T0));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    // Recall of the same rows with the centres learned.
    r = run_kmeans(dir, {"PLAIN.DAT", "+wine.KMC", "-Q3"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_kmeans(dir, {"wine.csv", "+wine.KMC", "-Q3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("wine.KMR"), dir.read("PLAIN.KMR"));

    // pandas' to_csv() with its row index: warned at every level.
    std::string indexed = ",x,y\n";
    for (int i = 0; i < 6; ++i) indexed += std::to_string(i) + "," + std::to_string(i % 2 * 9) + ",1\n";
    dir.write("idx.csv", indexed);
    r = run_kmeans(dir, {"idx.csv", "-K2", "-Q3"}, frozen_at(T0));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "VARNING: Column 1 of idx.csv has no name in the header line (a row index?); it is clustered "
                     "like the others.\n");

    // Rows count from after the header line; names elsewhere are bad rows.
    dir.write("B.csv", "a b\n1 2\n3 x\n");
    r = run_kmeans(dir, {"B.csv", "-Q3"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "\nRow holds the character \"x\" in column 3, which no number may hold." + hint +
                         "\nPANIC: Bad datafile: B.csv  Datarow:2\n");
    dir.write("M.csv", "1 2\na b\n");
    r = run_kmeans(dir, {"M.csv", "-Q3"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "\nRow holds the character \"a\" in column 1, which no number may hold." + hint +
                         "\nPANIC: Bad datafile: M.csv  Datarow:2\n");

    // The picture names the variables.
    r = run_plot(dir, {"wine.csv", "-Q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = dir.read("wine.SVG");
    EXPECT_NE(svg.find(">alcohol</text>"), std::string::npos);
    EXPECT_NE(svg.find(">malic, acid</text>"), std::string::npos);
    EXPECT_EQ(svg.find(">v1</text>"), std::string::npos);
}

// gzip and zstd files, told by their first bytes, give the results of their
// text, named as for any file; compressed data that are cut short, damaged
// or followed by other bytes, and rows beyond the memory budget, are
// refused with the reason, and leave no result file.
TEST(InputE2E, CompressedFilesAreReadAsTheirText) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    ScratchDir dir;
    const std::string rows = rows_text();
    dir.write("PLAIN.DAT", rows);
    dir.write("D.DAT.gz", gzip_bytes(rows));
    dir.write("Z.DAT.zst", zstd_bytes(rows));
    dir.write("PACKED", gzip_bytes(rows));  // no name tells it
    ASSERT_EQ(run_kmeans(dir, {"PLAIN.DAT", "-K3", "-Q3"}, frozen_at(T0)).status, 0);
    for (const std::string& name : std::vector<std::string>{"D.DAT.gz", "Z.DAT.zst", "PACKED"}) {
        SCOPED_TRACE(name);
        RunResult r = run_kmeans(dir, {name, "-K3", "-Q3"}, frozen_at(T0));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        const std::string stem = name.substr(0, name.find('.'));
        EXPECT_EQ(dir.read(stem + ".KMC"), dir.read("PLAIN.KMC"));
        EXPECT_EQ(dir.read(stem + ".KTF"), dir.read("PLAIN.KTF"));
    }
    ASSERT_EQ(run_kmeans(dir, {"PLAIN.DAT", "+PLAIN.KMC", "-Q3"}).status, 0);
    ASSERT_EQ(run_kmeans(dir, {"Z.DAT.zst", "+PLAIN.KMC", "-Q3"}).status, 0);
    EXPECT_EQ(dir.read("Z.KMR"), dir.read("PLAIN.KMR"));
    {
        // Beyond the memory budget the rows go to the spill file, as a plain file's do.
        RunOptions opts = frozen_at(T0);
        opts.env = {"KMEANS_MEMORY=0"};
        ASSERT_EQ(run_kmeans(dir, {"D.DAT.gz", "-K3", "-Q3"}, opts).status, 0);
        EXPECT_EQ(dir.read("D.KMC"), dir.read("PLAIN.KMC"));
        EXPECT_EQ(dir.read("D.KTF"), dir.read("PLAIN.KTF"));
    }
    RunResult r = run_plot(dir, {"D.DAT.gz", "-Q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(dir.exists("D.SVG"));

    const std::string gz = gzip_bytes(rows);
    std::string damaged = zstd_bytes(rows);
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x5a);
    struct Case {
        const char* what;
        std::string name, bytes, err;
        std::vector<std::string> env;
        int status;
    };
    const Case cases[] = {
        {"cut in its trailer", "T.DAT.gz", gz.substr(0, gz.size() - 3),
         "\nThe compressed data are cut short.\nPANIC: Bad datafile: T.DAT.gz  Datarow:91\n", {}, 5},
        {"cut in its first bytes", "T.DAT.zst", zstd_bytes(rows).substr(0, 10),
         "\nThe compressed data are cut short.\nPANIC: Bad datafile: T.DAT.zst  Datarow:1\n", {}, 5},
        {"other bytes after it", "G.DAT.gz", gz + "trailing\n",
         "\nThe compressed data are followed by bytes that are not compressed data.\nPANIC: Bad datafile: G.DAT.gz  "
         "Datarow:91\n", {}, 5},
        {"a second member after it", "TWO.DAT.gz", gz + gz, "", {}, 0},
        {"damaged", "X.DAT.zst", damaged, "", {}, 5},
        {"beyond the memory budget", "D.DAT.gz", gz,
         "\nThe rows of a compressed data file are read into memory, and these need more than the memory budget"
         " (0 MB, KMEANS_MEMORY): decompress the file to have its rows read again from the disk."
         "\nPANIC: Not enough memory for compressed file: D.DAT.gz\n", {"KMEANS_MEMORY=0", "KMEANS_SPILL=off"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir d;
        d.write(c.name, c.bytes);
        RunOptions opts = frozen_at(T0);
        opts.env = c.env;
        r = run_kmeans(d, {c.name, "-K3", "-Q3"}, opts);
        EXPECT_EQ(r.status, c.status);
        if (c.name == "X.DAT.zst") {
            EXPECT_EQ(r.err.rfind("\nThe compressed data are damaged (zstd: ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(").\nPANIC: Bad datafile: X.DAT.zst  Datarow:"), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err, c.err);
        }
        if (c.status == 0) {
            EXPECT_EQ(count_of(d.read("TWO.KTF"), "\n"), 180u);
        } else {
            EXPECT_EQ(d.entries(), std::vector<std::string>{c.name});
        }
    }
}

}  // namespace
