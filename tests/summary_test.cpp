// kmeans-summary against a direct computation: the sums and distances of a
// Learn result (both distances) and of a Recall result with rows given -1,
// from the data file and the result files as written; its command line and
// a standard output that cannot be written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

// The numbers of every line of `text`, one vector per line; lines starting
// with '-' followed by a digit count as numbers too, comment lines ('!') are
// left out.
std::vector<std::vector<double>> numbers(const std::string& text) {
    std::vector<std::vector<double>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '!') continue;
        std::istringstream ls(line);
        std::vector<double> v;
        for (std::string w; ls >> w;) v.push_back(static_cast<double>(std::strtof(w.c_str(), nullptr)));
        lines.push_back(v);
    }
    return lines;
}

std::string g17(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// The CSV kmeans-summary should print for `data` with the centre file text
// `kmc` and the cluster numbers `labels`, computed here row by row: squared
// differences (Cityblock: absolute differences) summed in double.
// `total` gets the total sum.
std::string expected_csv(const std::string& data, const std::string& kmc, const std::string& labels, bool cityblock,
                         bool recall, double& total) {
    const auto rows = numbers(data);
    auto centres = numbers(kmc);
    centres.erase(centres.begin());  // MaxDist
    const auto label = numbers(labels);
    const std::size_t K = centres.size();
    std::vector<long long> n(K, 0);
    std::vector<double> sse(K, 0.0), dist(K, 0.0), far(K, 0.0);
    double total_dist = 0.0, total_far = 0.0;
    total = 0.0;
    long long none = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const int k = static_cast<int>(label[r][0]);
        if (k == -1) {
            ++none;
            continue;
        }
        const auto& c = centres[static_cast<std::size_t>(k - 1)];
        double t = 0.0;
        for (std::size_t v = 0; v < rows[r].size(); ++v) {
            const double d = rows[r][v] - c[v];
            t += cityblock ? std::fabs(d) : d * d;
        }
        const double d = cityblock ? t : std::sqrt(t);
        const std::size_t i = static_cast<std::size_t>(k - 1);
        ++n[i];
        sse[i] += t;
        dist[i] += d;
        far[i] = std::max(far[i], d);
        total += t;
        total_dist += d;
        total_far = std::max(total_far, d);
    }
    const double all = static_cast<double>(rows.size());
    std::string csv = std::string("cluster,rows,share,") + (cityblock ? "sum_of_distances" : "sum_of_squares") +
                      ",mean_distance,largest_distance\n";
    auto line = [&](const std::string& name, long long m, double s, double d, double f) {
        for (const std::string& field : {name, std::to_string(m), g17(static_cast<double>(m) / all)}) csv.append(field).append(",");
        csv.append(g17(s));
        if (m == 0) csv.append(",,\n");
        else csv.append(",").append(g17(d / static_cast<double>(m))).append(",").append(g17(f)).append("\n");
    };
    for (std::size_t k = 0; k < K; ++k) line(std::to_string(k + 1), n[k], sse[k], dist[k], far[k]);
    if (recall) csv += "-1," + std::to_string(none) + "," + g17(static_cast<double>(none) / all) + ",,,\n";
    line("total", static_cast<long long>(rows.size()) - none, total, total_dist, total_far);
    return csv;
}

const std::string data =
    "! two groups and a row far away\n"
    "1.5 2.25 0.1\n1.75 2.5 0.3\n1.2 2.0 -0.2\n"
    "8.1 9.3 5.5\n7.7 8.9 5.25\n8.4 9.9 6.0\n8.05 9.1 5.7\n"
    "30 -4 2\n";

TEST(SummaryE2e, LearnResultsAgainstADirectComputation) {
    for (bool cityblock : {false, true}) {
        SCOPED_TRACE(cityblock ? "Cityblock" : "Euclidean");
        ScratchDir dir;
        dir.write("D.DAT", data);
        RunOptions seeded;
        seeded.env = {"KMEANS_SEED=7", "KMEANS_INIT=kmeans++"};
        std::vector<std::string> args = {"D.DAT", "-K3", "-Q3"};
        if (cityblock) args.push_back("-B");
        ASSERT_EQ(run_kmeans(dir, args, seeded).status, 0);
        std::vector<std::string> sargs = {"D.DAT", "-C"};
        if (cityblock) sargs.push_back("/b");
        const RunResult r = run_summary(dir, sargs);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        double total = 0.0;
        EXPECT_EQ(r.out, expected_csv(data, dir.read("D.KMC"), dir.read("D.KTF"), cityblock, false, total));
        // The text gives the same totals.
        const RunResult t = run_summary(dir, sargs.size() == 3 ? std::vector<std::string>{"D.DAT", "-B"}
                                                               : std::vector<std::string>{"D.DAT"});
        EXPECT_EQ(t.status, 0) << t.err;
        char want[80];
        std::snprintf(want, sizeof want, "\nRows: 8\nClusters used: 3 of 3\nTotal %s: %.10g\n",
                      cityblock ? "sum of distances" : "sum of squares", total);
        EXPECT_NE(t.out.find(want), std::string::npos) << t.out;
    }
}

TEST(SummaryE2e, RecallResultsCountRowsWithoutACluster) {
    ScratchDir dir;
    dir.write("D.DAT", data);
    dir.write("C.KMC", "-1\n1.5 2.25 0\n8 9.5 5.5\n0 0 100\n");
    ASSERT_EQ(run_kmeans(dir, {"D.DAT", "+C", "-M3", "-Q3"}).status, 0);
    const RunResult r = run_summary(dir, {"D.DAT", "+C", "-C"});
    EXPECT_EQ(r.status, 0) << r.err;
    double total = 0.0;
    EXPECT_EQ(r.out, expected_csv(data, dir.read("C.KMC"), dir.read("D.KMR"), false, true, total));
    EXPECT_NE(r.out.find("\n-1,1,0.125,,,\n"), std::string::npos) << r.out;  // the row far away
    EXPECT_NE(r.out.find("\n3,0,0,0,,\n"), std::string::npos) << r.out;      // a centre without rows
    const RunResult t = run_summary(dir, {"D.DAT", "+C"});
    EXPECT_NE(t.out.find("Clusters used: 2 of 3\n"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find("Rows given -1: 1\n"), std::string::npos) << t.out;
}

// The command line as kmeans-plot reads it (status 2), the files it needs
// (status 1), and standard output that cannot be written (status 5).
TEST(SummaryE2e, RefusalsAndAnswers) {
    ScratchDir dir;
    dir.write("D.DAT", data);
    ASSERT_EQ(run_kmeans(dir, {"D.DAT", "-K2", "-Q3"}).status, 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{}, 2, "usage: kmeans-summary <DataFile.ext> (+ClustCFile) (-C)(-B)\n"},
        {{"D.DAT", "-X"}, 2, "kmeans-summary: unknown switch letter 'X': -X\n"},
        {{"D.DAT", "E.DAT"}, 2, "kmeans-summary: more than one data file: D.DAT E.DAT\n"},
        {{"E.DAT"}, 1, "kmeans-summary: cannot open E.DAT\n"},
        {{"D.DAT", "+NONE"}, 1, "kmeans-summary: cannot open NONE.KMC\n"},
        {{"D.DAT", "-X", "--version"}, 0, ""},
    };
    for (const Case& c : cases) {
        const RunResult r = run_summary(dir, c.args);
        EXPECT_EQ(r.status, c.status) << ::testing::PrintToString(c.args);
        EXPECT_EQ(r.err, c.err) << ::testing::PrintToString(c.args);
    }
    EXPECT_EQ(run_summary(dir, {"--version"}).out, "kmeans-summary 1.15\n");
    RunOptions full;
    full.out = Sink::full_device;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"D.DAT"}, {"--help"}}) {
        const RunResult r = run_summary(dir, args, full);
        EXPECT_EQ(r.status, 5);
        EXPECT_EQ(r.err, "kmeans-summary: cannot write standard output: No space left on device\n");
    }
}

}  // namespace
