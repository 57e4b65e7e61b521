// Tests of kmeans-plot: the picture of a Learn or Recall result. The
// end-to-end cases run kmeans first and check the SVG against its result
// files: one dot per drawn row and panel in its cluster's group, one cross per
// centre and panel, legend counts over all rows, and a document that
// rsvg-convert renders.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "io/result_file.h"
#include "io/result_names.h"
#include "plot/args.h"
#include "plot/plot.h"
#include "plot/svg.h"

using namespace kmeans;

namespace {

RunResult run_plot(const ScratchDir& dir, const std::vector<std::string>& args) {
    RunOptions opts;
    opts.binary = KMEANS_PLOT_BIN;
    return run_kmeans(dir, args, opts);
}

bool have_rsvg() { return std::system("command -v rsvg-convert >/dev/null 2>&1") == 0; }

std::string read_path(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// How often each number occurs, one number per line (a .KTF or .KMR).
std::map<int, std::int64_t> line_counts(const std::string& text) {
    std::map<int, std::int64_t> counts;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) ++counts[std::stoi(line)];
    return counts;
}

// The dots per cluster (-1 for "knone"), summed over all panels. (Scanned by
// hand: std::regex recurses per repetition and overflows the stack on
// groups of thousands of dots.)
std::map<int, std::int64_t> dot_counts(const std::string& svg) {
    std::map<int, std::int64_t> counts;
    const std::string open = "<g class=\"dots k";
    for (std::size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
        std::size_t name = at + open.size();
        std::string k = svg.substr(name, svg.find('"', name) - name);
        std::size_t body = svg.find(">\n", name) + 2;
        std::string group = svg.substr(body, svg.find("</g>", body) - body);
        counts[k == "none" ? -1 : std::stoi(k)] += static_cast<std::int64_t>(count_of(group, "<circle"));
        EXPECT_EQ(count_of(group, "\n"), count_of(group, "<circle")) << "only dots in a dot group";
    }
    return counts;
}

// The legend: cluster (-1 for "no cluster") to the count it shows.
std::map<int, std::int64_t> legend_counts(const std::string& svg) {
    std::map<int, std::int64_t> counts;
    static const std::regex entry(R"re(<text [^>]*class="legend k(\w+)"[^>]*>(-1 \(no cluster\)|\d+): (\d+) (rows?)</text>)re");
    for (std::sregex_iterator it(svg.begin(), svg.end(), entry), end; it != end; ++it) {
        int k = (*it)[1] == "none" ? -1 : std::stoi((*it)[1]);
        EXPECT_EQ((*it)[2], k < 0 ? "-1 (no cluster)" : std::to_string(k));
        counts[k] = std::stoll((*it)[3]);
        EXPECT_EQ((*it)[4], counts[k] == 1 ? "row" : "rows");
    }
    return counts;
}

// Divides every dot count by the number of panels that show the rows.
std::map<int, std::int64_t> per_panel(std::map<int, std::int64_t> counts, std::int64_t panels) {
    for (auto& [k, n] : counts) {
        EXPECT_EQ(n % panels, 0) << "cluster " << k;
        n /= panels;
    }
    return counts;
}

// Renders `svg_name` in `dir` to PNG and checks the picture: status 0, a PNG
// of the document's size and more than a blank page's bytes.
void expect_renders(const ScratchDir& dir, const std::string& svg_name) {
    RunOptions opts;
    opts.binary = "rsvg-convert";
    RunResult r = run_kmeans(dir, {"-o", "out.png", svg_name}, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string png = dir.read("out.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    auto be32 = [&](std::size_t at) {
        return (static_cast<std::uint32_t>(static_cast<unsigned char>(png[at])) << 24) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 1])) << 16) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 2])) << 8) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 3]));
    };
    std::smatch m;
    std::string svg = dir.read(svg_name);
    ASSERT_TRUE(std::regex_search(svg, m, std::regex(R"re(<svg [^>]*width="([0-9.]+)" height="([0-9.]+)")re")));
    EXPECT_EQ(be32(16), static_cast<std::uint32_t>(std::stod(m[1]) + 0.5));  // IHDR width
    EXPECT_EQ(be32(20), static_cast<std::uint32_t>(std::stod(m[2]) + 0.5));  // IHDR height
    EXPECT_GT(png.size(), 40000u);  // a white page of this size compresses to a few KB
}

// --- end to end ----------------------------------------------------------------

TEST(PlotE2e, IrisLearnShowsEveryRowCentreAndCount) {
    ScratchDir dir;
    dir.write("IRIS.DAT", read_path(examples_dir() + "/IRIS.DAT"));
    ASSERT_EQ(run_kmeans(dir, {"IRIS.DAT", "-K3", "-Q3"}).status, 0);
    const std::map<int, std::int64_t> ktf = line_counts(dir.read("IRIS.KTF"));
    const int K = static_cast<int>(count_of(dir.read("IRIS.KMC"), "\n")) - 1;  // used clusters, 2 or 3

    RunResult r = run_plot(dir, {"IRIS.DAT"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Writing file: IRIS.SVG\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"IRIS.DAT", "IRIS.KMC", "IRIS.KTF", "IRIS.SVG"}));
    const std::string svg = dir.read("IRIS.SVG");

    // Four variables: 12 panels of dots, every row in each of them.
    EXPECT_EQ(count_of(svg, "<circle"), 150u * 12);
    EXPECT_EQ(per_panel(dot_counts(svg), 12), ktf);
    EXPECT_EQ(legend_counts(svg), ktf);  // no "no cluster" entry in a Learn result
    EXPECT_EQ(count_of(svg, "<g class=\"centre k"), static_cast<std::size_t>(K) * 12);
    for (int k = 1; k <= K; ++k)
        EXPECT_EQ(count_of(svg, "<g class=\"centre k" + std::to_string(k) + "\""), 12u) << k;
    EXPECT_NE(svg.find("<title>IRIS.DAT: K = " + std::to_string(K) + ", 150 rows</title>"), std::string::npos);
    for (const char* name : {">v1<", ">v2<", ">v3<", ">v4<"}) EXPECT_NE(svg.find(name), std::string::npos) << name;
    // Self-contained: nothing fetched, nothing run.
    for (const char* outside : {"href", "<script", "<image", "url(", "@import"})
        EXPECT_EQ(svg.find(outside), std::string::npos) << outside;

    if (!have_rsvg()) GTEST_SKIP() << "rsvg-convert is not installed";
    expect_renders(dir, "IRIS.SVG");
}

TEST(PlotE2e, LargeFileIsDrawnFromASampleAndCountedWhole) {
    // 30000 rows of two variables with hand-made centres and cluster numbers:
    // clusters of 15000, 9000 and 6000 rows.
    ScratchDir dir;
    std::string data, ktf;
    std::map<int, std::int64_t> expected;
    for (int i = 0; i < 30000; ++i) {
        int block = i / 30 % 10;  // runs of 30 rows, one of which is drawn
        int k = block < 5 ? 1 : block < 8 ? 2 : 3;
        data += std::to_string(i % 97 + 10 * k) + " " + std::to_string(i % 89) + "\n";
        ktf += std::to_string(k) + "\n";
        ++expected[k];
    }
    dir.write("BIG.DAT", data);
    dir.write("BIG.KTF", ktf);
    dir.write("BIG.KMC", "-1\n58 44\n68 44\n78 44\n");

    RunResult r = run_plot(dir, {"BIG.DAT", "-s1000", "-Q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string svg = dir.read("BIG.SVG");
    EXPECT_EQ(count_of(svg, "<circle"), 1000u * 2);  // two variables: two panels of dots
    // Every 30th row is drawn (rows 30, 60, ...), so the shares stay exact.
    EXPECT_EQ(per_panel(dot_counts(svg), 2), (std::map<int, std::int64_t>{{1, 500}, {2, 300}, {3, 200}}));
    EXPECT_EQ(legend_counts(svg), expected);
    EXPECT_NE(svg.find("<title>BIG.DAT: K = 3 (sample of 1000 of 30000 rows)</title>"), std::string::npos);
    if (!have_rsvg()) GTEST_SKIP() << "rsvg-convert is not installed";
    expect_renders(dir, "BIG.SVG");
}

TEST(PlotE2e, RecallShowsRowsWithoutClusterInGrey) {
    // Centres (1,1) and (5,5) under MaxDist 2: the rows around (3,3) get -1.
    ScratchDir dir;
    dir.write("C.KMC", "2\n1 1\n5 5\n");
    dir.write("NEW.DAT", "1 2\n3 3\n5 4\n3.1 2.9\n0.5 1\n2.9 3.2\n");
    ASSERT_EQ(run_kmeans(dir, {"NEW.DAT", "+C", "-Q3"}).status, 0);
    ASSERT_EQ(dir.read("NEW.KMR"), "1\n-1\n2\n-1\n1\n-1\n");

    RunResult r = run_plot(dir, {"NEW.DAT", "+C", "-Q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = dir.read("NEW.SVG");
    EXPECT_EQ(per_panel(dot_counts(svg), 2), (std::map<int, std::int64_t>{{-1, 3}, {1, 2}, {2, 1}}));
    EXPECT_EQ(legend_counts(svg), (std::map<int, std::int64_t>{{-1, 3}, {1, 2}, {2, 1}}));
    EXPECT_NE(svg.find("fill=\"" + std::string(cluster_colour(-1)) + "\""), std::string::npos);
    EXPECT_NE(svg.find("<title>NEW.DAT, Recall with C.KMC: K = 2, 6 rows</title>"), std::string::npos);

    // With -D the Recall result starts with a header line; the picture is the same.
    ASSERT_EQ(run_kmeans(dir, {"NEW.DAT", "+C", "-Q3", "-D"}).status, 0);
    ASSERT_EQ(dir.read("NEW.KMR").rfind("NEW.DAT MaxDist:", 0), 0u);
    ASSERT_EQ(run_plot(dir, {"NEW.DAT", "+C", "-Q"}).status, 0);
    EXPECT_EQ(dir.read("NEW.SVG"), svg);
}

TEST(PlotE2e, ReadsTheDataFilesKmeansReads) {
    // The same rows, once plain and once with comments, commas, CR/LF, a
    // Ctrl-Z and lines after the empty line that ends the data: same picture.
    const std::string centres = "-1\n1.5 2\n6 6.5\n";
    const std::string ktf = "1\n1\n2\n2\n";
    ScratchDir plain, dos;
    plain.write("D.DAT", "1 2\n2 2\n6 7\n6 6\n");
    dos.write("D.DAT", "! measured twice\r\n1,2\r\n2\t 2\r\n! a note\r\n6, 7\r\n6 6\r\n\r\n9 9 9 junk\r\n\x1a");
    for (const ScratchDir* d : {&plain, &dos}) {
        d->write("D.KMC", centres);
        d->write("D.KTF", ktf);
        RunResult r = run_plot(*d, {"D.DAT", "-Q"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    EXPECT_EQ(dos.read("D.SVG"), plain.read("D.SVG"));
    EXPECT_EQ(count_of(plain.read("D.SVG"), "<circle"), 4u * 2);
}

TEST(PlotE2e, RefusesWithOneLineAndLeavesNoPicture) {
    const std::string iris = read_path(examples_dir() + "/IRIS.DAT");
    std::string ktf;
    for (int i = 0; i < 150; ++i) ktf += i < 50 ? "1\n" : "2\n";
    const std::string kmc = "-1\n5 3.4 1.5 0.2\n6.3 2.9 5 1.7\n";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string data, centres, values;  // IRIS.DAT, IRIS.KMC, IRIS.KTF ("" leaves the file out)
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"missing cluster values", {"IRIS.DAT"}, iris, kmc, "", 1, "kmeans-plot: cannot open IRIS.KTF\n"},
        {"a row short", {"IRIS.DAT"}, iris, kmc, ktf.substr(2), 1,
         "kmeans-plot: IRIS.KTF holds 149 cluster numbers, IRIS.DAT 150 data rows\n"},
        {"cluster beyond the centres", {"IRIS.DAT"}, iris, kmc, "3\n" + ktf.substr(2), 1,
         "kmeans-plot: IRIS.KTF: line 1: cluster 3 is not between 1 and 2 (IRIS.KMC holds 2 centres)\n"},
        {"-1 in a Learn result", {"IRIS.DAT"}, iris, kmc, "-1\n" + ktf.substr(2), 1,
         "kmeans-plot: IRIS.KTF: line 1: cluster -1 is not between 1 and 2 (IRIS.KMC holds 2 centres)\n"},
        {"centre report of -D", {"IRIS.DAT"}, iris, "mdist:4.1 no:1 totd:4.1\nMaxDist:-1\nCounts=50 5 3 1 0\n", ktf,
         1, "kmeans-plot: IRIS.KMC: a report written with -D, not a centre file\n"},
        {"bad data row", {"IRIS.DAT"}, iris + "1 2 3 x4\n", kmc, ktf, 1, "kmeans-plot: IRIS.DAT: bad data row 151\n"},
        {"variable out of range", {"IRIS.DAT", "-V2,5"}, iris, kmc, ktf, 2,
         "kmeans-plot: variable 5 is out of range: IRIS.DAT holds 4 variables\n"},
        {"unknown switch", {"IRIS.DAT", "/Z"}, iris, kmc, ktf, 2, "kmeans-plot: unknown switch letter 'Z': /Z\n"},
        {"no arguments", {}, iris, kmc, ktf, 2, "usage: kmeans-plot"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("IRIS.DAT", c.data);
        dir.write("IRIS.KMC", c.centres);
        if (!c.values.empty()) dir.write("IRIS.KTF", c.values);
        dir.write("IRIS.SVG", "an earlier picture");
        RunResult r = run_plot(dir, c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
        EXPECT_EQ(count_of(r.err, "\n"), 1u) << r.err;
        EXPECT_EQ(dir.read("IRIS.SVG"), "an earlier picture");
        EXPECT_EQ(dir.entries().size(), c.values.empty() ? 3u : 4u);  // no temporary file left
    }
}

// An argument exactly "--help" or "--version", anywhere, is answered alone
// on standard output with status 0: nothing else is read, no file touched.
TEST(PlotE2e, QuestionsAreAnsweredAlone) {
    const std::string help =
        "usage: kmeans-plot <DataFile.ext> (+ClustCFile) (-V#,#,...)(-S#)(-Q)\n"
        "\n"
        "Draws what kmeans wrote for DataFile, its Learn result (the .KMC and .KTF)\n"
        "or with +ClustCFile its Recall result (the .KMR), as one SVG picture beside\n"
        "it, named like the results with the extension .SVG.\n"
        "\n"
        "  -V#,#,...  the variables shown, from 1, at most four (default: the first four)\n"
        "  -S#        the most rows drawn, 1 to 1000000 (default: 20000)\n"
        "  -Q         no \"Writing file\" line\n"
        "\n"
        "Manual: man kmeans-plot\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--help"}, help},
        {{"D.DAT", "-Z", "+A", "+B", "--help", "--version"}, help},
        {{"--version"}, "kmeans-plot 1.15\n"},
        {{"D.DAT", "-V9", "--version"}, "kmeans-plot 1.15\n"},
    };
    for (const auto& [args, out] : cases) {
        SCOPED_TRACE(args.back());
        ScratchDir dir;
        dir.write("D.DAT", "1 2\n3 4\n");
        RunResult r = run_plot(dir, args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"D.DAT"});
    }
}

// --- pieces --------------------------------------------------------------------

TEST(PlotPieces, SampleIsEvenAndEndsAtTheLastRow) {
    auto drawn = [](std::int64_t total, std::int64_t limit) {
        RowSampler s{total, limit};
        std::vector<std::int64_t> rows;
        for (std::int64_t i = 0; i < total; ++i)
            if (s.take()) rows.push_back(i);
        return rows;
    };
    EXPECT_EQ(drawn(7, 3), (std::vector<std::int64_t>{2, 4, 6}));
    EXPECT_EQ(drawn(4, 4), (std::vector<std::int64_t>{0, 1, 2, 3}));
    std::vector<std::int64_t> every30 = drawn(30000, 1000);
    ASSERT_EQ(every30.size(), 1000u);
    for (std::size_t i = 0; i < every30.size(); ++i) ASSERT_EQ(every30[i], static_cast<std::int64_t>(30 * i + 29));
    EXPECT_EQ(drawn(1000003, 20000).size(), 20000u);
}

TEST(PlotPieces, CommandLineAndResultNames) {
    PlotArgs a;
    EXPECT_EQ(parse_plot_args({"d/X.Y.DAT", "-v3,1q", "/S500", "-V2", "+../C"}, a), "");
    EXPECT_EQ(a.data, "d/X.Y.DAT");
    EXPECT_EQ(a.vars, (std::vector<int>{3, 1}));  // the first -V counts
    EXPECT_EQ(a.limit, 500);
    EXPECT_TRUE(a.quiet);
    EXPECT_EQ(a.centres, "../C");  // holds a '.': no ".KMC" added, as in kmeans
    PlotArgs b;
    EXPECT_EQ(parse_plot_args({"D", "+C"}, b), "");
    EXPECT_EQ(b.centres, "C.KMC");
    EXPECT_EQ(b.limit, plot_default_limit);
    EXPECT_FALSE(b.quiet);
    PlotArgs c;
    EXPECT_NE(parse_plot_args({"D", "-V1,"}, c), "");
    EXPECT_NE(parse_plot_args({"D", "-S0"}, c), "");
    PlotArgs d;
    EXPECT_NE(parse_plot_args({"-Q"}, d), "");

    EXPECT_EQ(result_name("./sub/IRIS.DAT", ".KMC"), "./sub/IRIS.KMC");
    EXPECT_EQ(result_name("X.Y.DAT", ".KMC"), "X.KMC");
    EXPECT_EQ(result_name("../data/iris", ".SVG"), "../data/iris.SVG");
}

TEST(PlotPieces, TextIsEscapedAndNumbersAreLocaleFree) {
    std::string s;
    svg_text(s, "a<b>&\"c'\x01 \xC3\xA9\xFF");
    EXPECT_EQ(s, "a&lt;b&gt;&amp;&quot;c&apos;? \xC3\xA9?");
    s.clear();
    svg_fixed(s, -0.04, 1);
    s += ' ';
    svg_fixed(s, 1234.56, 1);
    s += ' ';
    svg_value(s, static_cast<double>(4.3f));
    s += ' ';
    svg_value(s, 1234567.0);
    EXPECT_EQ(s, "0.0 1234.6 4.3 1.23457e+06");
}

TEST(PlotPieces, OneVariableIsDrawnAgainstTheRowNumber) {
    PlotInput in;
    in.title = "ONE.DAT";
    in.vars = {2};
    in.lo = {0};
    in.hi = {0};  // an empty range: the dots sit in the middle
    in.values = {0, 0, 0};
    in.cluster = {1, -1, 1};
    in.row = {0, 1, 2};
    in.centres = {0, 0};
    in.K = 2;
    in.counts = {1, 2, 0};
    in.total_rows = 3;
    std::string svg = plot_svg(in);
    EXPECT_EQ(count_of(svg, "<circle"), 3u);
    EXPECT_EQ(per_panel(dot_counts(svg), 1), (std::map<int, std::int64_t>{{-1, 1}, {1, 2}}));
    EXPECT_EQ(legend_counts(svg), (std::map<int, std::int64_t>{{-1, 1}, {1, 2}, {2, 0}}));
    EXPECT_EQ(count_of(svg, "<g class=\"centre k"), 2u);
    EXPECT_NE(svg.find(">row<"), std::string::npos);
    EXPECT_NE(svg.find(">v2<"), std::string::npos);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
}

// Clusters next to each other in number never share a colour, and none of
// the first 40 shares both colour and mark with another or with the grey of
// the rows without a cluster. A picture of 20 clusters draws every cluster's
// dots in its mark, and the labels of 20 centres on nearly one spot stand
// apart: no two label boxes of a panel overlap (a digit taken as 0.6 em wide
// and 0.72 em high, about what a sans-serif bold digit covers).
TEST(PlotPieces, ClustersStayApartInColourMarkAndLabel) {
    std::set<std::pair<std::string, int>> looks;
    for (int k = 1; k <= 40; ++k) {
        if (k < 40) {
            EXPECT_STRNE(cluster_colour(k), cluster_colour(k + 1)) << k;
        }
        EXPECT_STRNE(cluster_colour(k), cluster_colour(-1)) << k;
        looks.insert({cluster_colour(k), static_cast<int>(cluster_mark(k))});
    }
    EXPECT_EQ(looks.size(), 40u);

    PlotInput in;
    in.title = "T.DAT";
    in.vars = {1, 2};
    in.lo = {0, 0};
    in.hi = {1, 1};
    in.K = 20;
    in.counts.assign(21, 1);
    in.counts[0] = 0;
    for (int k = 1; k <= in.K; ++k) {
        in.values.push_back(static_cast<float>(k) / 21);
        in.values.push_back(static_cast<float>(21 - k) / 21);
        in.cluster.push_back(k);
        in.row.push_back(k - 1);
        in.centres.push_back(0.5f + static_cast<float>(k) * 1e-4f);
        in.centres.push_back(0.5f - static_cast<float>(k % 3) * 1e-4f);
    }
    in.total_rows = in.K;
    const std::string svg = plot_svg(in);

    for (int k = 1; k <= in.K; ++k) {
        const std::string open = "<g class=\"dots k" + std::to_string(k) + "\"";
        for (std::size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
            const std::size_t mark = svg.find(">\n", at) + 2;
            EXPECT_EQ(svg.compare(mark, 7, k <= 10 ? "<circle" : "<rect x"), 0) << k;
        }
    }

    struct Label {
        double x0, y0, x1, y1;
    };
    std::size_t panels = 0;
    for (std::size_t at = svg.find("<g class=\"panel\">"); at != std::string::npos;
         at = svg.find("<g class=\"panel\">", at + 1)) {
        const std::size_t end = svg.find("<g class=\"panel\">", at + 1);
        const std::string panel = svg.substr(at, end == std::string::npos ? std::string::npos : end - at);
        static const std::regex label(R"re(<text x="([-0-9.]+)" y="([-0-9.]+)" [^>]*fill="#111">(\d+)</text>)re");
        std::vector<Label> boxes;
        for (std::sregex_iterator it(panel.begin(), panel.end(), label), e; it != e; ++it) {
            const double x = std::stod((*it)[1]), y = std::stod((*it)[2]);
            boxes.push_back({x, y - 0.72 * 13, x + 0.6 * 13 * static_cast<double>((*it)[3].length()), y});
        }
        if (boxes.empty()) continue;  // a diagonal panel
        ++panels;
        ASSERT_EQ(boxes.size(), 20u);
        for (std::size_t i = 0; i < boxes.size(); ++i)
            for (std::size_t j = i + 1; j < boxes.size(); ++j)
                EXPECT_TRUE(boxes[i].x1 <= boxes[j].x0 || boxes[j].x1 <= boxes[i].x0 || boxes[i].y1 <= boxes[j].y0 ||
                            boxes[j].y1 <= boxes[i].y0)
                    << "labels " << i + 1 << " and " << j + 1 << " overlap";
    }
    EXPECT_EQ(panels, 2u);
}

}  // namespace
