// Three ways to the same bytes: whether the rows are kept in memory, in a
// spill file, or read again from the data file on every pass, whether one
// thread or several do the work, and which kernel the searches take
// (KMEANS_KERNEL, each one this processor runs), every output (standard
// output, standard error with its spinner, every result file, the exit
// status) is the same, byte for byte; a spill file leaves nothing behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cluster/nearest.h"
#include "e2e.h"

namespace {

struct Way {
    const char* name;
    std::vector<std::string> env;
};

// The first way is the one every other is compared with. Each kernel
// forced comes with other threads and another place of the rows.
const std::vector<Way> ways = [] {
    std::vector<Way> w = {
        {"one thread, rows read again from the file", {"KMEANS_THREADS=1", "KMEANS_MEMORY=0", "KMEANS_SPILL=off"}},
        {"one thread, rows in memory", {"KMEANS_THREADS=1"}},
        {"three threads, rows in memory", {"KMEANS_THREADS=3"}},
        {"two threads, rows read again from the file", {"KMEANS_THREADS=2", "KMEANS_MEMORY=0", "KMEANS_SPILL=off"}},
        {"two threads, rows in a spill file", {"KMEANS_THREADS=2", "KMEANS_MEMORY=0"}},
        {"one thread, rows in a spill file", {"KMEANS_THREADS=1", "KMEANS_MEMORY=0"}},
    };
    if (kmeans::nearest_path_runs(kmeans::NearestPath::portable))
        w.push_back({"the portable kernel, two threads", {"KMEANS_THREADS=2", "KMEANS_KERNEL=portable"}});
    if (kmeans::nearest_path_runs(kmeans::NearestPath::avx2))
        w.push_back({"the AVX2 kernel, one thread, rows read again from the file",
                     {"KMEANS_THREADS=1", "KMEANS_MEMORY=0", "KMEANS_SPILL=off", "KMEANS_KERNEL=avx2"}});
    if (kmeans::nearest_path_runs(kmeans::NearestPath::avx512))
        w.push_back({"the AVX-512 kernel, three threads", {"KMEANS_THREADS=3", "KMEANS_KERNEL=avx512"}});
    return w;
}();

using Files = std::vector<std::pair<std::string, std::string>>;

// Everything a run leaves: its status, its two streams, and every file of
// its directory afterwards.
struct Outcome {
    int status = -1;
    std::string out, err;
    Files files;
};

Outcome run_way(const Files& inputs, const std::vector<std::string>& args, const Way& way) {
    ScratchDir dir;
    for (const auto& [name, text] : inputs) dir.write(name, text);
    RunOptions opts = frozen_at(1767225600);  // 2026-01-01 00:00:00 UTC: a known random start
    opts.env = way.env;
    RunResult r = run_kmeans(dir, args, opts);
    Outcome o{r.status, r.out, r.err, {}};
    for (const std::string& name : dir.entries()) o.files.emplace_back(name, dir.read(name));
    return o;
}

// Runs `args` every way and expects the outcome of the first way from all.
// Returns that outcome.
Outcome expect_same_every_way(const Files& inputs, const std::vector<std::string>& args) {
    const Outcome first = run_way(inputs, args, ways[0]);
    std::string what;
    for (const std::string& a : args) what += a + " ";
    for (std::size_t w = 1; w < ways.size(); ++w) {
        const Outcome o = run_way(inputs, args, ways[w]);
        EXPECT_EQ(o.status, first.status) << what << "| " << ways[w].name;
        EXPECT_EQ(o.out, first.out) << what << "| " << ways[w].name;
        EXPECT_EQ(o.err, first.err) << what << "| " << ways[w].name;
        EXPECT_EQ(o.files.size(), first.files.size()) << what << "| " << ways[w].name;
        for (std::size_t i = 0; i < std::min(o.files.size(), first.files.size()); ++i) {
            EXPECT_EQ(o.files[i].first, first.files[i].first) << what << "| " << ways[w].name;
            EXPECT_TRUE(o.files[i].second == first.files[i].second)
                << what << "| " << ways[w].name << ": " << o.files[i].first << " differs";
        }
    }
    return first;
}

// `rows` rows of `nvars` values in three groups, written in varied forms
// (signs, exponents, commas and tabs), with a comment line every
// `comment_every` rows and carriage returns before every line feed when
// `crlf`.
std::string data_text(int rows, int nvars, int comment_every, bool crlf) {
    std::string s;
    std::uint32_t seed = 99;
    const char* const eol = crlf ? "\r\n" : "\n";
    for (int r = 0; r < rows; ++r) {
        if (comment_every > 0 && r % comment_every == 0) s += std::string("! row ") + std::to_string(r) + eol;
        for (int v = 0; v < nvars; ++v) {
            seed = lcg_step(seed);
            const int g = r % 3;
            const double x = g * 10.0 + static_cast<double>((seed >> 8) % 1000) / 250.0 - 2.0;
            char buf[40];
            const char* sep = v == 0 ? "" : (v % 3 == 1 ? "," : (v % 3 == 2 ? "\t" : " "));
            std::snprintf(buf, sizeof buf, (seed & 16) ? "%s%.4e" : "%s%.5g", sep, x);
            s += buf;
        }
        s += eol;
    }
    return s;
}

// The lines of `text`, with `line` put in before line `at` (0-based).
std::string insert_line(const std::string& text, int at, const std::string& line) {
    std::size_t pos = 0;
    for (int i = 0; i < at; ++i) pos = text.find('\n', pos) + 1;
    return text.substr(0, pos) + line + text.substr(pos);
}

TEST(PathsE2e, LearningGivesTheSameBytesEveryWay) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    const std::string many = data_text(20000, 4, 7, false);
    const std::vector<std::vector<std::string>> switch_sets = {
        {"-K5", "-R3"},           {"-B", "-K4", "-R2", "-D"}, {"-A", "-K3", "-R2"},
        {"-I", "-K6", "-R2"},     {"-I", "-K9", "-R2", "-B"}, {"-K40", "-R2", "-U2"},
    };
    for (const auto& sw : switch_sets) {
        std::vector<std::string> args = {"D.DAT"};
        args.insert(args.end(), sw.begin(), sw.end());
        const Outcome o = expect_same_every_way({{"D.DAT", many}}, args);
        EXPECT_EQ(o.files.size(), 3u) << o.err;  // D.DAT, D.KMC, D.KTF
    }
    // Carriage returns, one row, and rows as wide as rows can be.
    expect_same_every_way({{"C.DAT", data_text(5000, 3, 11, true)}}, {"C.DAT", "-K3", "-R2", "-D"});
    expect_same_every_way({{"O.DAT", "1 2 3\n"}}, {"O.DAT", "-K2", "-R2"});
    expect_same_every_way({{"W.DAT", data_text(40, 2048, 0, false)}}, {"W.DAT", "-K3", "-R2", "-B"});
    // Rows of two values, where a centre moves after every row: the one size
    // for which the automatic choice takes the portable kernel there.
    expect_same_every_way({{"T.DAT", data_text(3000, 2, 0, false)}}, {"T.DAT", "-A", "-K12", "-R2"});
    expect_same_every_way({{"T.DAT", data_text(3000, 2, 0, false)}}, {"T.DAT", "-I", "-K12", "-R2", "-B"});
}

TEST(PathsE2e, WhereTheDataEndOrFailIsTheSameEveryWay) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    const std::string base = data_text(20000, 3, 13, false);
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"a bad character late", insert_line(base, 19000, "1 2 x\n")},
        {"a row of another length late", insert_line(base, 18500, "1 2\n")},
        {"a value beyond the float range late", insert_line(base, 17000, "1 2 4e38\n")},
        {"an empty line in the middle", insert_line(base, 9000, "\n")},
        {"a row without values in the middle", insert_line(base, 9000, "- 5 6\n")},
        {"a Ctrl-Z in the middle", insert_line(base, 12000, "\x1a")},
        {"a Ctrl-Z inside a line", insert_line(base, 12000, "7 8 9\x1a" "10 11 12\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expect_same_every_way({{"D.DAT", c.text}}, {"D.DAT", "-K4", "-R2"});
    }
}

TEST(PathsE2e, RecallGivesTheSameBytesEveryWay) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    const std::string centres = "-1\n0 0 0 0\n10 10 10 10\n20 20 20 20\n";
    const std::string data = data_text(20000, 4, 9, false);
    // Rows farther than 1.5 from every centre get -1.
    expect_same_every_way({{"C.KMC", centres}, {"D.DAT", data}}, {"D.DAT", "+C", "-M1.5"});
    expect_same_every_way({{"C.KMC", centres}, {"D.DAT", data}}, {"D.DAT", "+C", "-B", "-D"});
    expect_same_every_way({{"C.KMC", centres}, {"D.DAT", insert_line(data, 15000, "1 2 3 y\n")}}, {"D.DAT", "+C"});
}

}  // namespace
