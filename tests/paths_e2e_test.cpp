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

Outcome run_way(const Files& inputs, const std::vector<std::string>& args, const Way& way,
                const std::vector<std::string>& env = {}) {
    ScratchDir dir;
    for (const auto& [name, text] : inputs) dir.write(name, text);
    RunOptions opts = frozen_at(1767225600);  // 2026-01-01 00:00:00 UTC: a known random start
    opts.env = way.env;
    opts.env.insert(opts.env.end(), env.begin(), env.end());
    RunResult r = run_kmeans(dir, args, opts);
    Outcome o{r.status, r.out, r.err, {}};
    for (const std::string& name : dir.entries()) o.files.emplace_back(name, dir.read(name));
    return o;
}

// Whether way `w` reads the data file again on every pass (which a
// compressed file cannot be).
bool reads_again(const Way& w) {
    bool no_memory = false, no_spill = false;
    for (const std::string& e : w.env) {
        no_memory = no_memory || e == "KMEANS_MEMORY=0";
        no_spill = no_spill || e == "KMEANS_SPILL=off";
    }
    return no_memory && no_spill;
}

// Runs `args` every way (with `read_once`, every way that reads the data
// file only once: in memory or through the spill file), with the variables
// `env` besides the way's, and expects the outcome of the first way from
// all. Returns that outcome.
Outcome expect_same_every_way(const Files& inputs, const std::vector<std::string>& args, bool read_once = false,
                              const std::vector<std::string>& env = {}) {
    std::vector<const Way*> taken;
    for (const Way& w : ways)
        if (!read_once || !reads_again(w)) taken.push_back(&w);
    const Outcome first = run_way(inputs, args, *taken[0], env);
    std::string what;
    for (const std::string& a : args) what += a + " ";
    for (const std::string& e : env) what += e + " ";
    for (std::size_t i = 1; i < taken.size(); ++i) {
        const Way* const way = taken[i];
        const Outcome o = run_way(inputs, args, *way, env);
        EXPECT_EQ(o.status, first.status) << what << "| " << way->name;
        EXPECT_EQ(o.out, first.out) << what << "| " << way->name;
        EXPECT_EQ(o.err, first.err) << what << "| " << way->name;
        EXPECT_EQ(o.files.size(), first.files.size()) << what << "| " << way->name;
        for (std::size_t i = 0; i < std::min(o.files.size(), first.files.size()); ++i) {
            EXPECT_EQ(o.files[i].first, first.files[i].first) << what << "| " << way->name;
            EXPECT_TRUE(o.files[i].second == first.files[i].second)
                << what << "| " << way->name << ": " << o.files[i].first << " differs";
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

// The k-means++ start and several starts (each reading the rows again many
// times) give the same bytes every way too, the kept start's results
// included; SKM and AKM, both distances.
TEST(PathsE2e, StartsGiveTheSameBytesEveryWay) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    const std::string many = data_text(20000, 4, 7, false);
    struct Case {
        std::vector<std::string> args, env;
    };
    const Case cases[] = {
        {{"D.DAT", "-K5", "-R3"}, {"KMEANS_INIT=kmeans++", "KMEANS_RESTARTS=3"}},
        {{"D.DAT", "-K12", "-R2", "-B"}, {"KMEANS_INIT=kmeans++"}},
        {{"D.DAT", "-A", "-K3", "-R2", "-B"}, {"KMEANS_INIT=kmeans++", "KMEANS_RESTARTS=2"}},
        {{"D.DAT", "-K4", "-R2"}, {"KMEANS_RESTARTS=3"}},
    };
    for (const Case& c : cases) {
        const Outcome o = expect_same_every_way({{"D.DAT", many}}, c.args, false, c.env);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_NE(o.err.find("Start 1 of "), std::string::npos) << o.err;
    }
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

// The pruned SKM passes and the blocked search of long rows (both on by
// default) give the bytes of the plain search (KMEANS_PRUNE=off), on every
// kernel, for rows of 8 and of 128 values, with the rows in memory, in a
// spill file or read again (a budget of 1 MB: no room for the rows, room
// for the bounds).
TEST(PathsE2e, PruningChangesNoByte) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    std::vector<Way> pruned;
    for (kmeans::NearestPath path : {kmeans::NearestPath::portable, kmeans::NearestPath::avx2,
                                     kmeans::NearestPath::avx512}) {
        if (!kmeans::nearest_path_runs(path)) continue;
        const std::string kernel = std::string("KMEANS_KERNEL=") + kmeans::nearest_path_name(path);
        pruned.push_back({"plain search, that kernel", {"KMEANS_PRUNE=off", kernel}});
        pruned.push_back({"pruned, that kernel, two threads", {"KMEANS_PRUNE=on", "KMEANS_THREADS=2", kernel}});
    }
    pruned.push_back({"pruned, spill file", {"KMEANS_MEMORY=1", "KMEANS_THREADS=3"}});
    pruned.push_back({"pruned, read again", {"KMEANS_MEMORY=1", "KMEANS_SPILL=off", "KMEANS_THREADS=1"}});
    const Way plain{"plain search", {"KMEANS_PRUNE=off", "KMEANS_THREADS=1"}};
    struct Case {
        int rows, nvars;
        std::vector<std::string> args;
    };
    const Case cases[] = {{40000, 8, {"D.DAT", "-K20", "-R6"}}, {3000, 128, {"D.DAT", "-K40", "-R5"}}};
    for (const Case& c : cases) {
        const Files inputs = {{"D.DAT", data_text(c.rows, c.nvars, 0, false)}};
        const Outcome first = run_way(inputs, c.args, plain);
        EXPECT_EQ(first.status, 0) << first.err;
        for (const Way& way : pruned) {
            const Outcome o = run_way(inputs, c.args, way);
            const std::string what = std::to_string(c.nvars) + " values | " + way.name + " " + way.env.back();
            EXPECT_EQ(o.status, first.status) << what;
            EXPECT_EQ(o.out, first.out) << what;
            EXPECT_EQ(o.err, first.err) << what;
            EXPECT_TRUE(o.files == first.files) << what;
        }
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

// `text` with every occurrence of `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// The outcome of a compressed file (or one with a header line) against the
// plain file's: the same status, the same standard output and standard
// error (with `line` taken out of it and the file's name put back), and the
// same result files.
void expect_same_as_plain(const Outcome& plain, const Outcome& o, const std::string& plain_name,
                          const std::string& name, const std::string& line = "") {
    EXPECT_EQ(o.status, plain.status) << name;
    EXPECT_EQ(o.out, plain.out) << name;
    std::string err = o.err;
    if (!line.empty()) {
        ASSERT_NE(err.find(line), std::string::npos) << name << "\n" << err;
        err.erase(err.find(line), line.size());
    }
    // "Working on file: %-12s": the name with its padding first.
    auto padded = [](const std::string& n) { return "Working on file: " + n + std::string(n.size() < 12 ? 12 - n.size() : 0, ' '); };
    err = replaced(err, padded(name), padded(plain_name));
    EXPECT_EQ(replaced(err, name, plain_name), plain.err) << name;
    Files results, plain_results;
    for (const auto& f : o.files)
        if (f.first != name) results.push_back(f);
    for (const auto& f : plain.files)
        if (f.first != plain_name) plain_results.push_back(f);
    EXPECT_TRUE(results == plain_results) << name << ": other result files";
}

// A header line and a compressed file (gzip or zstd) give the bytes the
// plain file gives, every way that keeps the rows in memory; a compressed
// file whose rows must be read again from the disk is refused.
TEST(PathsE2e, HeaderLinesAndCompressedFilesGiveThePlainFilesBytes) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    const std::string data = data_text(20000, 4, 7, false);
    const std::string header = "\"x, one\",y,z,w\n";
    const std::vector<std::vector<std::string>> switch_sets = {{"-K5", "-R3"}, {"-I", "-K6", "-R2", "-D"}};
    for (const auto& sw : switch_sets) {
        auto with = [&](const std::string& name) {
            std::vector<std::string> args = {name};
            args.insert(args.end(), sw.begin(), sw.end());
            return args;
        };
        const Outcome plain = expect_same_every_way({{"P.DAT.txt", data}}, with("P.DAT.txt"));
        ASSERT_EQ(plain.status, 0) << plain.err;
        const std::string info = "INFO: Header line skipped: P.DAT.txt (4 names)\n";
        expect_same_as_plain(plain, expect_same_every_way({{"P.DAT.txt", header + data}}, with("P.DAT.txt")),
                             "P.DAT.txt", "P.DAT.txt", info);
        expect_same_as_plain(plain, expect_same_every_way({{"P.DAT.gz", gzip_bytes(data)}}, with("P.DAT.gz"), true),
                             "P.DAT.txt", "P.DAT.gz");
        expect_same_as_plain(plain, expect_same_every_way({{"P.DAT.zst", zstd_bytes(data)}}, with("P.DAT.zst"), true),
                             "P.DAT.txt", "P.DAT.zst");
        expect_same_as_plain(plain,
                             expect_same_every_way({{"P.DAT.zst", zstd_bytes(header + data)}}, with("P.DAT.zst"), true),
                             "P.DAT.txt", "P.DAT.zst", "INFO: Header line skipped: P.DAT.zst (4 names)\n");
    }
    // Where the data end or fail, and Recall.
    const std::string base = data_text(20000, 3, 13, false);
    for (const std::string& text : {insert_line(base, 19000, "1 2 x\n"), insert_line(base, 18500, "1 2\n"),
                                    insert_line(base, 9000, "\n"), insert_line(base, 12000, "7 8 9\x1a" "10 11 12\n")}) {
        const Outcome plain = expect_same_every_way({{"P.DAT.txt", text}}, {"P.DAT.txt", "-K4", "-R2"});
        expect_same_as_plain(plain, expect_same_every_way({{"P.DAT.gz", gzip_bytes(text)}}, {"P.DAT.gz", "-K4", "-R2"}, true),
                             "P.DAT.txt", "P.DAT.gz");
    }
    const std::string centres = "-1\n0 0 0 0\n10 10 10 10\n20 20 20 20\n";
    const Outcome plain = expect_same_every_way({{"C.KMC", centres}, {"P.DAT.txt", data}}, {"P.DAT.txt", "+C", "-M1.5"});
    expect_same_as_plain(plain,
                         expect_same_every_way({{"C.KMC", centres}, {"P.DAT.zst", zstd_bytes(header + data)}},
                                               {"P.DAT.zst", "+C", "-M1.5"}, true),
                         "P.DAT.txt", "P.DAT.zst", "INFO: Header line skipped: P.DAT.zst (4 names)\n");
    // Rows read again from the disk: refused until they can be.
    const Outcome refused = run_way({{"P.DAT.gz", gzip_bytes(data)}}, {"P.DAT.gz", "-K5", "-Q3"}, ways[0]);
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err,
              "\nThe rows of a compressed data file are read into memory, and these need more than the memory budget"
              " (0 MB, KMEANS_MEMORY): decompress the file to have its rows read again from the disk."
              "\nPANIC: Not enough memory for compressed file: P.DAT.gz\n");
    EXPECT_EQ(refused.files.size(), 1u);
}

}  // namespace
