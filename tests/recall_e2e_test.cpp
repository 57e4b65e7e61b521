// End-to-end tests of Recall mode: "kmeans DATA +CENTRES" reads a centre file
// once and writes, per data file, the number of each row's closest centre (or
// -1 beyond MaxDist) to DATA.KMR.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"

namespace {

// Centres (1,1) and (5,5) under MaxDist 2, and three rows that fall to the
// first centre, the second centre, and neither.
const std::string kCentres = "2\n1 1\n5 5\n";
const std::string kRows = "1 2\n5 4\n3 3\n";
// What an SKM or AKM learn run writes as MaxDist: -1 left-justified in 10.
const std::string kSkmMaxDist = "-1        \n";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The text from the first occurrence of `marker` to the end ("" without it).
std::string tail_from(const std::string& text, const std::string& marker) {
    std::size_t at = text.find(marker);
    return at == std::string::npos ? std::string() : text.substr(at);
}

// "\nWorking on file: %-12s  Creating file: %s\n".
std::string working_line(const std::string& arg, const std::string& result) {
    std::string padded = arg;
    if (padded.size() < 12) padded.append(12 - padded.size(), ' ');
    return "\nWorking on file: " + padded + "  Creating file: " + result + "\n";
}

// The lines of standard error that begin with "PANIC: ".
std::vector<std::string> panic_lines(const std::string& err) {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("PANIC: ", 0) == 0) lines.push_back(line);
    return lines;
}

std::vector<std::string> names(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::size_t count_lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string read_path(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// `n` copies of `line`.
std::string repeat(const std::string& line, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += line;
    return s;
}

}  // namespace

// The classic example: 1 2 is within 1 of (1,1), 5 4 within 1 of (5,5), and
// 3 3 lies sqrt(8) = 2.83 from both, beyond MaxDist 2.
TEST(RecallE2E, WorkedExample) {
    ScratchDir dir;
    dir.write("C.KMC", kCentres);
    dir.write("D.DAT", kRows);
    RunResult r = run_kmeans(dir, {"D.DAT", "+C", "-Q1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("D.KMR"), "1\n2\n-1\n");
    EXPECT_EQ(tail_from(r.err, "MaxDist from file"),
              "MaxDist from file:2         \nNo.of clusters:2 Euclidean dist.\n" + working_line("D.DAT", "D.KMR"))
        << r.err;
    EXPECT_FALSE(contains(r.err, "VARNING")) << r.err;
    EXPECT_EQ(names(dir.entries()), names({"C.KMC", "D.DAT", "D.KMR"}));
}

// A MaxDist of 0 or less (every SKM/AKM centre file carries -1) is replaced by
// the largest float, so every row gets its closest centre; 3 3 is equally far
// from both and goes to the first.
TEST(RecallE2E, BadMaxDistFromFileUsesLargestFloat) {
    struct Case {
        std::string first_line;
        std::string shown;  // "%.4f" of the value read
    };
    const Case cases[] = {
        {kSkmMaxDist, "-1.0000"},
        {"0\n", "0.0000"},
        {"-2.5\n", "-2.5000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first_line);
        ScratchDir dir;
        dir.write("C.KMC", c.first_line + "1 1\n5 5\n");
        dir.write("D.DAT", kRows);
        RunResult r = run_kmeans(dir, {"D.DAT", "+C", "-Q1"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read("D.KMR"), "1\n2\n1\n");
        EXPECT_EQ(tail_from(r.err, "VARNING"), "VARNING: Bad MaxDist " + c.shown +
                                                   " set to 3.403E+038: C.KMC\nNo.of clusters:2 Euclidean dist.\n" +
                                                   working_line("D.DAT", "D.KMR"))
            << r.err;
        EXPECT_FALSE(contains(r.err, "MaxDist from file")) << r.err;
    }
}

// Switch M replaces whatever the file holds, without any warning.
TEST(RecallE2E, GivenMaxDistOverridesFile) {
    struct Case {
        std::string first_line;
        std::string sw;
        std::string shown;
        std::string kmr;
    };
    const Case cases[] = {
        {kSkmMaxDist, "-M2.5", "Given MaxDist:2.5       \n", "1\n2\n-1\n"},
        {"2\n", "-M2.5", "Given MaxDist:2.5       \n", "1\n2\n-1\n"},
        {"2\n", "-M3", "Given MaxDist:3         \n", "1\n2\n1\n"},
        {kSkmMaxDist, "-M23456", "Given MaxDist:2.346E+004\n", "1\n2\n1\n"},
        {"0\n", "-M0.5", "Given MaxDist:0.5       \n", "-1\n-1\n-1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first_line + c.sw);
        ScratchDir dir;
        dir.write("C.KMC", c.first_line + "1 1\n5 5\n");
        dir.write("D.DAT", kRows);
        RunResult r = run_kmeans(dir, {"D.DAT", "+C", c.sw, "-Q1"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read("D.KMR"), c.kmr);
        EXPECT_EQ(tail_from(r.err, "Given MaxDist"),
                  c.shown + "No.of clusters:2 Euclidean dist.\n" + working_line("D.DAT", "D.KMR"))
            << r.err;
        EXPECT_FALSE(contains(r.err, "VARNING")) << r.err;
        EXPECT_FALSE(contains(r.err, "MaxDist from file")) << r.err;
    }
}

// A MaxDist row of several values warns and uses its first value; the row
// 1 2.5 lies exactly 1.5 from (1,1) and still gets the cluster.
TEST(RecallE2E, MaxDistRowWithSeveralColumns) {
    ScratchDir dir;
    dir.write("C.KMC", "1.5 3\n1 1\n5 5\n");
    dir.write("D.DAT", "1 2\n5 4\n1 2.5\n1 2.50001\n3 3\n");
    RunResult r = run_kmeans(dir, {"D.DAT", "+C", "-Q1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("D.KMR"), "1\n2\n1\n-1\n-1\n");
    EXPECT_EQ(tail_from(r.err, "VARNING"),
              "VARNING: More than one column in MaxDist row: C.KMC\nMaxDist from file:1.5       \n"
              "No.of clusters:2 Euclidean dist.\n" +
                  working_line("D.DAT", "D.KMR"))
        << r.err;

    // Both warnings when the first of several values is not positive.
    dir.write("C.KMC", "-1 7\n1 1\n5 5\n");
    r = run_kmeans(dir, {"D.DAT", "+C", "-Q1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("D.KMR"), "1\n2\n1\n1\n1\n");
    EXPECT_EQ(tail_from(r.err, "VARNING"),
              "VARNING: More than one column in MaxDist row: C.KMC\n"
              "VARNING: Bad MaxDist -1.0000 set to 3.403E+038: C.KMC\n"
              "No.of clusters:2 Euclidean dist.\n" +
                  working_line("D.DAT", "D.KMR"))
        << r.err;
}

// Quiet level 2 silences the MaxDist and cluster-count lines but never the
// warnings; quiet level 3 also silences the "Working on file" line.
TEST(RecallE2E, QuietLevels) {
    struct Case {
        std::string centres;
        std::vector<std::string> extra;
        std::string quiet;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const std::string working = working_line("D.DAT", "D.KMR");
    const Case cases[] = {
        {kCentres, {}, "-Q2", {working}, {"MaxDist from file", "No.of clusters", "VARNING"}},
        {kCentres, {"-M2.5"}, "-Q2", {working}, {"Given MaxDist", "No.of clusters"}},
        {"-1 7\n1 1\n5 5\n",
         {},
         "-Q2",
         {"VARNING: More than one column in MaxDist row: C.KMC\n",
          "VARNING: Bad MaxDist -1.0000 set to 3.403E+038: C.KMC\n", working},
         {"No.of clusters"}},
        {"-1 7\n1 1\n5 5\n",
         {},
         "-Q3",
         {"VARNING: More than one column in MaxDist row: C.KMC\n",
          "VARNING: Bad MaxDist -1.0000 set to 3.403E+038: C.KMC\n"},
         {"No.of clusters", "Working on file"}},
        {kCentres, {"-B"}, "-Q1", {"MaxDist from file:2         \n", "No.of clusters:2 Cityblock dist.\n"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.centres + c.quiet);
        ScratchDir dir;
        dir.write("C.KMC", c.centres);
        dir.write("D.DAT", kRows);
        std::vector<std::string> args = {"D.DAT", "+C", c.quiet};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        RunResult r = run_kmeans(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(count_lines(dir.read("D.KMR")), 3u);
        for (const std::string& s : c.present) EXPECT_TRUE(contains(r.err, s)) << s << "\n---\n" << r.err;
        for (const std::string& s : c.absent) EXPECT_FALSE(contains(r.err, s)) << s << "\n---\n" << r.err;
    }
}

// A best distance equal to MaxDist gives the cluster; the least bit more does
// not. The distances here are exact in single precision.
TEST(RecallE2E, DistanceExactlyAtMaxDist) {
    struct Case {
        std::string row;
        bool cityblock;
        std::string kmr;
    };
    const Case cases[] = {
        {"1 3\n", false, "1\n"},        // 2 from (1,1)
        {"3 5\n", false, "2\n"},        // 2 from (5,5)
        {"1 3.0001\n", false, "-1\n"},  // just beyond
        {"2 2\n", true, "1\n"},         // 1 + 1 from (1,1)
        {"4 6\n", true, "2\n"},         // 1 + 1 from (5,5)
        {"2 2.5\n", true, "-1\n"},      // 2.5 from (1,1)
        {"2 2\n", false, "1\n"},        // sqrt(2) under Euclid
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row + (c.cityblock ? " cityblock" : " euclid"));
        ScratchDir dir;
        dir.write("C.KMC", kCentres);
        dir.write("D.DAT", c.row);
        std::vector<std::string> args = {"D.DAT", "+C", "-Q3"};
        if (c.cityblock) args.push_back("-B");
        RunResult r = run_kmeans(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read("D.KMR"), c.kmr);
    }
}

// The debug switch writes "%s MaxDist:%-10.4G\n" with the argument as typed
// before the result lines.
TEST(RecallE2E, DebugHeader) {
    struct Case {
        std::string centres;
        std::string data_arg;
        std::vector<std::string> extra;
        std::string result;
        std::string kmr;
    };
    const Case cases[] = {
        {kCentres, "D.DAT", {"-D"}, "D.KMR", "D.DAT MaxDist:2         \n1\n2\n-1\n"},
        {kCentres, "D.DAT", {"-D1", "-M2.5"}, "D.KMR", "D.DAT MaxDist:2.5       \n1\n2\n-1\n"},
        {kSkmMaxDist + "1 1\n5 5\n", "D.DAT", {"-D"}, "D.KMR", "D.DAT MaxDist:3.403E+038\n1\n2\n1\n"},
        {kCentres, "d.dat", {"-D"}, "d.KMR", "d.dat MaxDist:2         \n1\n2\n-1\n"},
        {kCentres, "D.DAT", {"-D2"}, "D.KMR", "D.DAT MaxDist:2         \n1\n2\n-1\n"},
        {kCentres, "D.DAT", {}, "D.KMR", "1\n2\n-1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data_arg + " " + (c.extra.empty() ? "" : c.extra[0]));
        ScratchDir dir;
        dir.write("C.KMC", c.centres);
        dir.write(c.data_arg, kRows);
        std::vector<std::string> args = {c.data_arg, "+C", "-Q3"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        RunResult r = run_kmeans(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read(c.result), c.kmr);
        // Debug level 2 reports the reservation of one int per row.
        bool d2 = !c.extra.empty() && c.extra[0] == "-D2";
        EXPECT_EQ(contains(r.err, "12 bytes memory reserved.\n"), d2) << r.err;
    }
}

// The centres are read once and serve every data file, each into its own
// result file; every data file fixes its own number of variables, and a
// narrower one is compared on its own variables only.
TEST(RecallE2E, SeveralDataFilesShareTheCentres) {
    ScratchDir dir;
    dir.write("C.KMC", "10\n1 1 100\n5 5 -100\n");
    dir.write("N.DAT", "1 2\n5 4\n3 3\n");         // first two variables only
    dir.write("W.DAT", "5 5 100\n1 1 -100\n");     // all three: the third decides
    dir.write("O.DAT", "5\n0\n20\n");              // the first variable only
    RunResult r = run_kmeans(dir, {"N.DAT", "W.DAT", "+C", "O.DAT", "-Q1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("N.KMR"), "1\n2\n1\n");
    EXPECT_EQ(dir.read("W.KMR"), "1\n2\n");
    EXPECT_EQ(dir.read("O.KMR"), "2\n1\n-1\n");
    // Rows narrower than the centres are compared on their own values, with a warning.
    const std::string fewer = "\nVARNING: Datafile has fewer variables than the centres: ";
    const std::string compared = " of each centre are compared)\n";
    EXPECT_EQ(tail_from(r.err, "MaxDist from file"),
              "MaxDist from file:10        \nNo.of clusters:2 Euclidean dist.\n" + working_line("N.DAT", "N.KMR") +
                  fewer + "N.DAT  2<3 (only the first 2" + compared + working_line("W.DAT", "W.KMR") +
                  working_line("O.DAT", "O.KMR") + fewer + "O.DAT  1<3 (only the first 1" + compared)
        << r.err;
    // Values of the centres are ignored: quiet level 3 shows the warnings
    // alone, and the results stay the same.
    r = run_kmeans(dir, {"N.DAT", "W.DAT", "+C", "O.DAT", "-Q3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, fewer + "N.DAT  2<3 (only the first 2" + compared + fewer + "O.DAT  1<3 (only the first 1" + compared);
    EXPECT_EQ(dir.read("N.KMR"), "1\n2\n1\n");
    EXPECT_EQ(dir.read("O.KMR"), "2\n1\n-1\n");

    // The worked rows against the same two-variable centres, twice over.
    ScratchDir two;
    two.write("C.KMC", kCentres);
    two.write("D.DAT", kRows);
    two.write("E.DAT", "5 5\n0 0\n4.5 5.5\n9 9\n");
    r = run_kmeans(two, {"D.DAT", "E.DAT", "+C", "-Q3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(two.read("D.KMR"), "1\n2\n-1\n");
    EXPECT_EQ(two.read("E.KMR"), "2\n1\n2\n-1\n");
}

// Switch B measures with the Cityblock distance, whatever wrote the file:
// from (0,0), (3,0) is 3 either way while (2,2) is 2.83 Euclidean, 4 Cityblock.
TEST(RecallE2E, CityblockChangesTheResult) {
    ScratchDir dir;
    dir.write("C.KMC", "3.5\n3 0\n2 2\n");
    dir.write("D.DAT", "0 0\n");
    RunResult r = run_kmeans(dir, {"D.DAT", "+C", "-Q1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("D.KMR"), "2\n");
    EXPECT_TRUE(contains(r.err, "No.of clusters:2 Euclidean dist.\n")) << r.err;

    r = run_kmeans(dir, {"D.DAT", "+C", "-B", "-Q1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("D.KMR"), "1\n");
    EXPECT_TRUE(contains(r.err, "No.of clusters:2 Cityblock dist.\n")) << r.err;
}

// Arguments that name the program's own result files are skipped, whatever
// their case, with an INFO line below quiet level 3.
TEST(RecallE2E, ResultFileArgumentsAreIgnored) {
    ScratchDir dir;
    dir.write("C.KMC", kCentres);
    dir.write("D.DAT", kRows);
    RunResult r = run_kmeans(dir, {"C.KMC", "D.DAT", "x.ktf", "D.KMR", "a.Kmc.dat", "+C", "-Q1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("D.KMR"), "1\n2\n-1\n");
    EXPECT_EQ(tail_from(r.err, "INFO"), "INFO: Ignoring file: C.KMC\n" + working_line("D.DAT", "D.KMR") +
                                            "INFO: Ignoring file: x.ktf\nINFO: Ignoring file: D.KMR\n"
                                            "INFO: Ignoring file: a.Kmc.dat\n")
        << r.err;
    EXPECT_EQ(names(dir.entries()), names({"C.KMC", "D.DAT", "D.KMR"}));

    r = run_kmeans(dir, {"C.KMC", "D.DAT", "+C", "-Q3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

// "+NAME" without a '.' reads NAME.KMC; a name with a '.' is taken as typed.
TEST(RecallE2E, CentreFileName) {
    struct Case {
        std::string arg;
        int status;
        std::string kmr;  // "" for none
        std::string err_part;
    };
    const Case cases[] = {
        {"+C", 0, "1\n2\n-1\n", ""},
        {"+c.txt", 0, "2\n1\n-1\n", ""},
        {"+C.KMC", 0, "1\n2\n-1\n", ""},
        {"+c", 4, "", "\nPANIC: Can't find/open file: c.KMC\n\n"},
        {"+C.txt", 4, "", "\nPANIC: Can't find/open file: C.txt\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arg);
        ScratchDir dir;
        dir.write("C.KMC", kCentres);
        dir.write("c.txt", "2\n5 5\n1 1\n");
        dir.write("C", "2\n9 9\n9 9\n");  // never read: "+C" means C.KMC
        dir.write("D.DAT", kRows);
        RunResult r = run_kmeans(dir, {"D.DAT", c.arg, "-Q3"});
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.kmr.empty()) {
            EXPECT_FALSE(dir.exists("D.KMR"));
        } else {
            EXPECT_EQ(dir.read("D.KMR"), c.kmr);
        }
        if (!c.err_part.empty()) {
            EXPECT_TRUE(contains(r.err, c.err_part)) << r.err;
        }
    }
}

// A missing centre file ends the run before any data file is touched: the
// missing data file is never reported, and no result file appears.
TEST(RecallE2E, MissingCentreFile) {
    ScratchDir dir;
    dir.write("D.DAT", kRows);
    RunResult r = run_kmeans(dir, {"D.DAT", "NODATA.DAT", "+NOPE", "-Q1"});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(contains(r.err, "\nPANIC: Can't find/open file: NOPE.KMC\n\n")) << r.err;
    EXPECT_FALSE(contains(r.err, "NODATA")) << r.err;
    EXPECT_FALSE(contains(r.err, "Working on file")) << r.err;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"D.DAT"});
}

// Centre files the reader cannot use stop the run with status 5 and a PANIC
// line naming the centre file, before any data file is touched. A row the
// reader refuses is reported after one line that says why, and a report
// written with switch D also with a hint.
TEST(RecallE2E, UnusableCentreFiles) {
    std::string too_many = "5\n";
    for (int i = 0; i < 769; ++i) too_many += std::to_string(i) + " 0\n";
    const std::string no_number = ", which no number may hold.";
    const std::string report =
        "\nThe file looks like a report written with switch D, which cannot be read back: learn without D for a "
        "centre file.";
    struct Case {
        std::string what;
        std::string centres;
        std::string before;  // what stands before the PANIC of a refused row ("" for other PANICs)
        int row;
    };
    const Case cases[] = {
        {"centre row of another length", "2\n1 1\n5 5 5\n", "\nstr:5 5 5\n3!=2\n", 3},
        {"first centre row of another length", "2\n1 1 1\n5 5\n", "\nstr:5 5\n2!=3\n", 3},
        {"letters in a centre row", "2\n1 1\nx 5\n", "\nRow holds the character \"x\" in column 1" + no_number, 3},
        {"value beyond the float range", "2\n1 1\n5 -1e39\n",
         "\nValue beyond the single-precision range. It is value 2 of the row, in column 3.", 3},
        {"byte-order mark on the second line", "2\n\xef\xbb\xbf" "1 1\n",
         "\nRow holds the byte 0xEF in column 1" + no_number, 2},
        {"written with switch D",
         "mdist:3.37588      no:6     totd:20.2553     \nMaxDist:-1        \n"
         "Counts=61     5.88361      2.74098      \nCounts=89     1.5          2.5          \n"
         "No.of overlaps (at mdist/2): 0\n",
         "\nRow holds the character \"m\" in column 1" + no_number + report, 1},
        {"written with switch D2", "mdist:1 no:1 totd:1\nMaxDist:2\nCounts=1 k[0][0]=1 k[0][1]=1 \n",
         "\nRow holds the character \"m\" in column 1" + no_number + report, 1},
        {"labelled lines after a plain MaxDist row", "2\nCounts=1      1 1 \n",
         "\nRow holds the character \"C\" in column 1" + no_number + report, 2},
        {"769 centres", too_many, "", 0},
        {"empty file", "", "", 0},
        {"comments only", "! no centres here\n! none at all\n", "", 0},
        {"MaxDist row only", "2\n", "", 0},
        {"MaxDist row, then an empty line", "2\n\n1 1\n5 5\n", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("C.KMC", c.centres);
        dir.write("D.DAT", kRows);
        RunResult r = run_kmeans(dir, {"D.DAT", "NODATA.DAT", "+C", "-Q1"});
        EXPECT_EQ(r.status, 5) << r.err;
        std::vector<std::string> panics = panic_lines(r.err);
        ASSERT_EQ(panics.size(), 1u) << r.err;
        EXPECT_TRUE(contains(panics[0], "C.KMC")) << panics[0];
        if (!c.before.empty()) {
            const std::string panic = "\nPANIC: Unusable centre file: C.KMC  Row:" + std::to_string(c.row) + "\n\n";
            EXPECT_EQ(tail_from(r.err, c.before), c.before + panic) << r.err;
            EXPECT_EQ(r.err.size(), r.err.rfind(c.before) + c.before.size() + panic.size()) << r.err;
        }
        EXPECT_FALSE(contains(r.err, "Working on file")) << r.err;
        EXPECT_FALSE(contains(r.err, "No.of clusters")) << r.err;
        EXPECT_EQ(names(dir.entries()), names({"C.KMC", "D.DAT"}));
    }
}

// A UTF-8 byte-order mark at the start of a data or centre file is passed
// over in every pass: the results and the console are those of the files
// without it.
TEST(RecallE2E, ByteOrderMarkIsSkipped) {
    const std::string bom = "\xef\xbb\xbf";
    const std::string rows = "1 2\r\n1.5 1\r\n! flowers\r\n5 4\r\n5 6\r\n9 9\r\n3 3\r\n";
    RunOptions opts;
    opts.env = {"KMEANS_SEED=7"};
    std::string results[2];
    for (int with = 0; with < 2; ++with) {
        SCOPED_TRACE(with ? "with the mark" : "without");
        const std::string mark = with ? bom : "";
        ScratchDir dir;
        dir.write("D.DAT", mark + rows);
        RunResult r = run_kmeans(dir, {"D.DAT", "-K2", "-R3", "-Q1"}, opts);
        EXPECT_EQ(r.status, 0) << r.err;
        results[with] += r.err + dir.read("D.KMC") + dir.read("D.KTF");
        dir.write("C.KMC", mark + kCentres);
        r = run_kmeans(dir, {"D.DAT", "+C", "-Q1"});
        EXPECT_EQ(r.status, 0) << r.err;
        results[with] += r.err + dir.read("D.KMR");
    }
    EXPECT_EQ(results[1], results[0]);
    EXPECT_TRUE(contains(results[0], "1\n1\n2\n2\n-1\n-1\n")) << results[0];
}

// 768 centres are the most a centre file may hold; the last is still found.
TEST(RecallE2E, SevenHundredSixtyEightCentres) {
    std::string centres = "0.5\n";
    for (int i = 1; i <= 768; ++i) centres += std::to_string(i) + " 0\n";
    ScratchDir dir;
    dir.write("C.KMC", centres);
    dir.write("D.DAT", "768 0\n1 0\n384.2 0\n1000 0\n0.5 0\n0.4 0\n");
    RunResult r = run_kmeans(dir, {"D.DAT", "+C", "-Q1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "No.of clusters:768 Euclidean dist.\n")) << r.err;
    EXPECT_EQ(dir.read("D.KMR"), "768\n1\n384\n-1\n1\n-1\n");
}

// A centre file as the home platform writes it (carriage returns, trailing
// blanks) with comment lines reads like the plain one; an empty line ends the
// centres, so 9 9 after it is no centre.
TEST(RecallE2E, CentreFileCommentsAndEmptyLine) {
    struct Case {
        std::string centres;
        std::string kmr;
    };
    const Case cases[] = {
        {"! learned centres\r\n2         \r\n1            1            \r\n! next\r\n5            5            \r\n",
         "1\n2\n-1\n-1\n"},
        {"2\n1 1\n5 5\n\n9 9\n", "1\n2\n-1\n-1\n"},
        {"2\n1 1\n5 5\n9 9\n", "1\n2\n-1\n3\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.centres);
        ScratchDir dir;
        dir.write("C.KMC", c.centres);
        dir.write("D.DAT", "1 2\n5 4\n3 3\n9 9.5\n");
        RunResult r = run_kmeans(dir, {"D.DAT", "+C", "-Q3"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read("D.KMR"), c.kmr);
    }
}

// A data file with more values per row than the centres cannot be compared:
// PANIC naming both counts, status 5, no result file, an older one untouched.
TEST(RecallE2E, DataFileWiderThanCentres) {
    ScratchDir dir;
    dir.write("C.KMC", kCentres);
    dir.write("D.DAT", "1 2 3 4 5\n5 4 3 2 1\n");
    dir.write("D.KMR", "older result\n");
    RunResult r = run_kmeans(dir, {"D.DAT", "+C", "-Q1"});
    EXPECT_EQ(r.status, 5) << r.err;
    std::vector<std::string> panics = panic_lines(r.err);
    ASSERT_EQ(panics.size(), 1u) << r.err;
    EXPECT_TRUE(contains(panics[0], "D.DAT")) << panics[0];
    EXPECT_TRUE(std::regex_search(panics[0], std::regex("(^|[^0-9.])5([^0-9.]|$)"))) << panics[0];
    EXPECT_TRUE(std::regex_search(panics[0], std::regex("(^|[^0-9.])2([^0-9.]|$)"))) << panics[0];
    EXPECT_EQ(dir.read("D.KMR"), "older result\n");
    EXPECT_EQ(names(dir.entries()), names({"C.KMC", "D.DAT", "D.KMR"}));

    dir.write("D.DAT", "1 2 3\n");
    r = run_kmeans(dir, {"D.DAT", "+C", "-Q3"});
    EXPECT_EQ(r.status, 5) << r.err;
    panics = panic_lines(r.err);
    ASSERT_EQ(panics.size(), 1u) << r.err;
    EXPECT_TRUE(std::regex_search(panics[0], std::regex("(^|[^0-9.])3([^0-9.]|$)"))) << panics[0];
    EXPECT_EQ(dir.read("D.KMR"), "older result\n");
}

// A data file without data rows asks for 0 bytes of cluster numbers, which
// counts as a failed reservation: status 2 and no result file, after a line
// that says why.
TEST(RecallE2E, DataFileWithoutRows) {
    // The data that end before they begin lose two lines, which every quiet
    // level warns of.
    const std::string lost = "\nVARNING: The data of D.DAT end at line 1; 2 more lines are left out.\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"! a comment, no data\n", ""}, {"\n1 2\n5 4\n", lost}, {"   \n", ""}};
    for (const auto& [data, warning] : cases) {
        SCOPED_TRACE(data);
        ScratchDir dir;
        dir.write("C.KMC", kCentres);
        dir.write("D.DAT", data);
        RunResult r = run_kmeans(dir, {"D.DAT", "+C", "-Q3"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err, warning +
                  "\nNo data rows in file: D.DAT\nAttemted to reserve 0 bytes memory. (clustno)\nPANIC: Not enough memory.\n");
        EXPECT_EQ(names(dir.entries()), names({"C.KMC", "D.DAT"}));
    }
}

// A PANIC in the second data file leaves the first result complete, writes
// nothing (not even a hidden temporary file) for the second, and keeps an
// older result file of the second's name as it was.
TEST(RecallE2E, PanicInSecondDataFile) {
    struct Case {
        std::string what;
        std::string second;
        int status;
        std::string err_part;
        bool older;  // an older E.KMR exists
    };
    const Case cases[] = {
        {"letter in row 2", "1 2\n1 x\n", 5, "\nPANIC: Bad datafile: E.DAT  Datarow:2\n", false},
        {"letter in row 2, older result", "1 2\n1 x\n", 5, "\nPANIC: Bad datafile: E.DAT  Datarow:2\n", true},
        {"row of another length", "! c\n1 2\n5 5\n1 2 3\n", 5,
         "\nstr:1 2 3\n3!=2\n\nPANIC: Bad datafile: E.DAT  Datarow:3\n", true},
        {"wider than the centres", "1 2 3\n", 5, "PANIC: ", true},
        {"no data rows", "! nothing\n", 2, "Attemted to reserve 0 bytes memory. (clustno)\nPANIC: Not enough memory.\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("C.KMC", kCentres);
        dir.write("D.DAT", kRows);
        dir.write("E.DAT", c.second);
        if (c.older) dir.write("E.KMR", "older result\n");
        RunResult r = run_kmeans(dir, {"D.DAT", "E.DAT", "F.DAT", "+C", "-Q1"});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(contains(r.err, c.err_part)) << r.err;
        EXPECT_TRUE(contains(r.err, working_line("E.DAT", "E.KMR"))) << r.err;
        EXPECT_FALSE(contains(r.err, "F.DAT")) << r.err;
        EXPECT_EQ(dir.read("D.KMR"), "1\n2\n-1\n");
        std::vector<std::string> expected = {"C.KMC", "D.DAT", "D.KMR", "E.DAT"};
        if (c.older) {
            expected.push_back("E.KMR");
            EXPECT_EQ(dir.read("E.KMR"), "older result\n");
        }
        EXPECT_EQ(names(dir.entries()), names(expected));
    }
}

// Two data files with one result name: the second is refused before anything
// of it is written, and the first file's result stays.
TEST(RecallE2E, ResultNameClashIsRefused) {
    ScratchDir dir;
    dir.write("C.KMC", kCentres);
    dir.write("RUN.A.DAT", kRows);
    dir.write("RUN.B.DAT", "5 5\n");
    RunResult r = run_kmeans(dir, {"RUN.A.DAT", "RUN.B.DAT", "+C", "-Q3"});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_EQ(r.err, "\nPANIC: Results of RUN.B.DAT would replace those of RUN.A.DAT\n\n");
    EXPECT_EQ(dir.read("RUN.KMR"), "1\n2\n-1\n");
    EXPECT_EQ(names(dir.entries()), names({"C.KMC", "RUN.A.DAT", "RUN.B.DAT", "RUN.KMR"}));
}

// A data file that cannot be opened ends the run with status 4; the files
// before it keep their results and no result file is started for it.
TEST(RecallE2E, MissingDataFile) {
    ScratchDir dir;
    dir.write("C.KMC", kCentres);
    dir.write("D.DAT", kRows);
    RunResult r = run_kmeans(dir, {"D.DAT", "E.DAT", "F.DAT", "+C", "-Q1"});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_TRUE(contains(r.err, "\nPANIC: Can't find/open file: E.DAT\n\n")) << r.err;
    EXPECT_FALSE(contains(r.err, "Creating file: E.KMR")) << r.err;
    EXPECT_FALSE(contains(r.err, "F.DAT")) << r.err;
    EXPECT_EQ(dir.read("D.KMR"), "1\n2\n-1\n");
    EXPECT_EQ(names(dir.entries()), names({"C.KMC", "D.DAT", "D.KMR"}));
}

// One result line per data row: comment lines give none, and the lines after
// an empty row are not data.
TEST(RecallE2E, OneResultLinePerDataRow) {
    struct Case {
        std::string data;
        std::string kmr;
    };
    const Case cases[] = {
        {"! head\n1 2\n! mid 9 9\n5 4\n3 3\n! tail\n", "1\n2\n-1\n"},
        {"1 2\n\n5 4\n3 3\n", "1\n"},
        {"1 2\r\n5 4\r\n3 3", "1\n2\n-1\n"},
        {"1,2\n\t5   4\n3 3\x1a\n5 5\n", "1\n2\n-1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        ScratchDir dir;
        dir.write("C.KMC", kCentres);
        dir.write("D.DAT", c.data);
        RunResult r = run_kmeans(dir, {"D.DAT", "+C", "-Q3"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read("D.KMR"), c.kmr);
    }
}

// Many rows against centres with a repeated entry, checked against a nearest
// search done here on integers: with integer data the squared Euclidean and
// the Cityblock distances are exact, the root is monotone, and a tie goes to
// the earlier centre.
TEST(RecallE2E, MatchesIndependentNearestSearch) {
    const std::vector<std::vector<int>> centres = {{1, 2, 3}, {7, 7, 1}, {4, 0, 8}, {7, 7, 1}, {0, 9, 0}};
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = lcg_step(seed);
        return static_cast<int>((seed >> 16) % 10);
    };
    std::vector<std::vector<int>> rows(300);
    std::string data;
    for (auto& row : rows) {
        for (int v = 0; v < 3; ++v) row.push_back(next());
        data += std::to_string(row[0]) + " " + std::to_string(row[1]) + "\t" + std::to_string(row[2]) + "\n";
    }
    struct Case {
        bool cityblock;
        int maxdist;  // 0: the file holds -1, every row gets its nearest centre
    };
    const Case cases[] = {{false, 4}, {true, 6}, {false, 0}, {true, 0}, {false, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cityblock ? "cityblock " : "euclid ") + std::to_string(c.maxdist));
        std::string centre_text = c.maxdist > 0 ? std::to_string(c.maxdist) + "\n" : kSkmMaxDist;
        for (const auto& k : centres)
            centre_text += std::to_string(k[0]) + " " + std::to_string(k[1]) + " " + std::to_string(k[2]) + "\n";
        std::string expected;
        for (const auto& row : rows) {
            int best = -1;
            long best_d = 0;
            for (std::size_t i = 0; i < centres.size(); ++i) {
                long d = 0;
                for (int v = 0; v < 3; ++v) {
                    long diff = row[v] - centres[i][v];
                    d += c.cityblock ? (diff < 0 ? -diff : diff) : diff * diff;
                }
                if (best < 0 || d < best_d) {
                    best = static_cast<int>(i);
                    best_d = d;
                }
            }
            long limit = c.cityblock ? c.maxdist : static_cast<long>(c.maxdist) * c.maxdist;
            bool within = c.maxdist == 0 || best_d <= limit;
            expected += std::to_string(within ? best + 1 : -1) + "\n";
        }
        ASSERT_EQ(expected.find("4\n"), std::string::npos);  // the repeated centre never wins

        ScratchDir dir;
        dir.write("C.KMC", centre_text);
        dir.write("D.DAT", data);
        std::vector<std::string> args = {"D.DAT", "+C", "-Q3"};
        if (c.cityblock) args.push_back("-B");
        RunResult r = run_kmeans(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string kmr = dir.read("D.KMR");
        EXPECT_EQ(count_lines(kmr), rows.size());
        EXPECT_EQ(kmr, expected);
    }
}

// A row whose distances all overflow the single-precision range gets -1,
// even when MaxDist is the largest float. The Euclidean sum of squares is
// rounded to single precision before its root, so 0 0 overflows there too
// (3e38 squared), while its Cityblock distance 3e38 stays finite.
TEST(RecallE2E, OverflowingDistanceGivesMinusOne) {
    for (bool cityblock : {false, true}) {
        SCOPED_TRACE(cityblock ? "cityblock" : "euclid");
        ScratchDir dir;
        dir.write("C.KMC", kSkmMaxDist + "3e38 0\n");
        dir.write("D.DAT", "-3e38 0\n3e38 1\n0 0\n");
        std::vector<std::string> args = {"D.DAT", "+C", "-Q3"};
        if (cityblock) args.push_back("-B");
        RunResult r = run_kmeans(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read("D.KMR"), cityblock ? "-1\n1\n1\n" : "-1\n1\n-1\n");
    }
}

// Switch U has no used-cluster count to report in Recall mode: status 0.
TEST(RecallE2E, SwitchUExitsZero) {
    for (const char* sw : {"-U", "-U2", "-U300"}) {
        SCOPED_TRACE(sw);
        ScratchDir dir;
        dir.write("C.KMC", kCentres);
        dir.write("D.DAT", kRows);
        RunResult r = run_kmeans(dir, {"D.DAT", "+C", sw, "-Q3"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read("D.KMR"), "1\n2\n-1\n");
    }
}

// With quiet level 0 the spinner turns at every 64th row of the counting
// pass and at the 1st, 65th, ... row of the classifying pass, each pass
// starting again from its first character.
TEST(RecallE2E, Spinner) {
    const char chars[] = "-\\|/";
    for (int n : {1, 63, 64, 65, 128, 129, 300}) {
        SCOPED_TRACE(n);
        std::string expected;
        for (int i = 0; i < n / 64; ++i) expected += std::string("\b") + chars[i % 4];
        for (int i = 0; i < (n + 63) / 64; ++i) expected += std::string("\b") + chars[i % 4];

        ScratchDir dir;
        dir.write("C.KMC", kCentres);
        dir.write("S.DAT", repeat("1 1\n", n));
        RunResult r = run_kmeans(dir, {"S.DAT", "+C"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(count_lines(dir.read("S.KMR")), static_cast<std::size_t>(n));
        const std::string working = working_line("S.DAT", "S.KMR");
        std::size_t at = r.err.find(working);
        ASSERT_NE(at, std::string::npos) << r.err;
        std::string after = r.err.substr(at + working.size());
        std::size_t len = 0;
        while (len + 1 < after.size() && after[len] == '\b') len += 2;
        EXPECT_EQ(after.substr(0, len), expected) << r.err;
    }

    // Quiet level 1 shows no spinner.
    ScratchDir dir;
    dir.write("C.KMC", kCentres);
    dir.write("S.DAT", repeat("1 1\n", 200));
    RunResult r = run_kmeans(dir, {"S.DAT", "+C", "-Q1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(contains(r.err, "\b")) << r.err;
}

// Learn on IRIS.DAT, then recall the same file with the centres just written:
// every row gets the cluster the learn run gave it (no IRIS row lies close
// enough to a boundary for the 6-digit centres to change its cluster).
TEST(RecallE2E, RoundTripWithLearnMode) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    const std::string iris = read_path(examples_dir() + "/IRIS.DAT");
    ASSERT_FALSE(iris.empty());
    struct Case {
        std::string time;
        std::vector<std::string> learn;   // extra learn switches
        std::vector<std::string> recall;  // extra recall switches
    };
    const Case cases[] = {
        {"2026-01-01 00:00:00", {}, {}},
        {"2025-07-01 08:00:00", {"-K3"}, {}},
        {"2026-03-05 12:34:56", {"-A", "-K4"}, {}},
        {"2026-01-01 00:00:00", {"-B"}, {"-B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.time + (c.learn.empty() ? "" : " " + c.learn[0]));
        ScratchDir dir;
        dir.write("IRIS.DAT", iris);
        std::vector<std::string> learn = {"IRIS.DAT", "-Q3"};
        learn.insert(learn.end(), c.learn.begin(), c.learn.end());
        RunResult r = run_kmeans(dir, learn, {.env = {}, .binary = {}, .faketime = c.time});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_TRUE(dir.exists("IRIS.KMC"));
        std::string ktf = dir.read("IRIS.KTF");
        ASSERT_EQ(count_lines(ktf), 150u);

        std::vector<std::string> recall = {"IRIS.DAT", "+IRIS", "-Q3"};
        recall.insert(recall.end(), c.recall.begin(), c.recall.end());
        r = run_kmeans(dir, recall);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "VARNING: Bad MaxDist -1.0000 set to 3.403E+038: IRIS.KMC\n");
        EXPECT_EQ(dir.read("IRIS.KMR"), ktf);
    }
}
