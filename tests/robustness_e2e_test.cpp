// Bad input never crashes the program: random bytes from the data grammar
// and hostile values end either in results or in a PANIC with its status;
// so does running out of memory, and values that overflow single precision
// never reach a result file.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

struct Lcg {
    std::uint32_t s;
    std::uint32_t next() { return (s = lcg_step(s)) >> 8; }
    std::size_t pick(std::size_t n) { return next() % n; }
};

// Text that mixes the accepted characters with comment marks, Ctrl-Z and
// values at the edges of the single-precision range.
std::string random_data(Lcg& g) {
    static const char* const tokens[] = {"1", "-2.5", "3e38", "-3.4e38", "1e-45", "0", "7", ".", "-",
                                         "1e", "+4", ",", " ", "\t", "\r", "!", "\x1a", "\n", "\n", "\n"};
    std::string s;
    for (std::size_t n = g.pick(300); n > 0; --n) s += tokens[g.pick(sizeof tokens / sizeof *tokens)];
    return s;
}

TEST(RobustnessE2e, RandomDataNeverCrashes) {
    static const std::vector<std::vector<std::string>> switch_sets = {
        {}, {"-A"}, {"-I"}, {"-I", "-M0.001"}, {"-I", "-M3.4E38"}, {"-B", "-D2"},
        {"-K768", "-R2"}, {"-A", "-F2", "-R40", "-G2"}, {"-D", "-B", "-I", "-U"}};
    Lcg g{2026};
    ScratchDir dir;
    int learned = 0, refused = 0;
    for (int trial = 0; trial < 60; ++trial) {
        dir.write("D.DAT", random_data(g));
        std::vector<std::string> args = {"D.DAT", "-Q3"};
        const auto& extra = switch_sets[g.pick(switch_sets.size())];
        args.insert(args.end(), extra.begin(), extra.end());
        RunResult r = run_kmeans(dir, args);
        ASSERT_GE(r.status, 0) << "killed by a signal, trial " << trial;
        const bool panicked = r.err.find("PANIC: ") != std::string::npos;
        ++(panicked ? refused : learned);
        if (panicked) {
            // 2: no data rows; 5: a bad row.
            EXPECT_TRUE(r.status == 2 || r.status == 5) << "trial " << trial << "\n" << r.err;
            EXPECT_FALSE(dir.exists("D.KMC")) << "trial " << trial;
        } else {
            // 0, or the used-cluster count under -U.
            EXPECT_TRUE(r.status == 0 || (!extra.empty() && extra.back() == "-U")) << "trial " << trial << "\n" << r.err;
            ASSERT_TRUE(dir.exists("D.KMC") && dir.exists("D.KTF")) << "trial " << trial;
            RunResult back = run_kmeans(dir, {"D.DAT", "+D", "-Q3"});
            ASSERT_GE(back.status, 0) << "recall killed by a signal, trial " << trial;
        }
        std::filesystem::remove(dir.path / "D.KMC");
        std::filesystem::remove(dir.path / "D.KTF");
    }
    // The inputs reach both outcomes, so both branches above were checked.
    EXPECT_GE(learned, 5);
    EXPECT_GE(refused, 5);
}

// Out of memory anywhere ends the run with a PANIC line and status 2 after
// the clean-up, never with an abort. One row of 8 MiB (a value and blanks)
// needs its line buffer to grow to 16 MiB; the run is repeated under address
// space limits rising in steps of 4 MiB until it succeeds, so the limits
// cover every request from the start of the program to the end of the run,
// whatever this build needs. Runs the loader could not even start are passed.
TEST(RobustnessE2e, OutOfMemoryEndsWithPanicAfterCleanUp) {
#ifdef KMEANS_ASAN
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here";
#endif
    ScratchDir dir;
    dir.write("D.DAT", "1" + std::string(8u << 20, ' ') + "\n2\n3\n");
    int panics = 0;
    bool learned = false;
    for (int mib = 4; mib <= 128 && !learned; mib += 4) {
        SCOPED_TRACE(mib);
        const std::string limit = "ulimit -v " + std::to_string(mib * 1024) + " && exec \"$0\" \"$@\"";
        RunOptions opts;
        opts.binary = "/bin/sh";
        RunResult r = run_kmeans(dir, {"-c", limit, kmeans_binary(), "D.DAT", "-K2", "-R1", "-Q3"}, opts);
        if (r.status == 127 && r.err.find("error while loading shared libraries") != std::string::npos) continue;
        if (r.status == 0) {
            learned = true;
            EXPECT_EQ(dir.entries(), (std::vector<std::string>{"D.DAT", "D.KMC", "D.KTF"}));
            continue;
        }
        ++panics;
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err, "\nPANIC: Not enough memory.\n");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"D.DAT"});
    }
    EXPECT_TRUE(learned);
    EXPECT_GE(panics, 2);
}

// A centre or MaxDist beyond the single-precision range is never written as
// INF or NAN: the run stops with its PANIC before any result of the file
// takes its name, and the earlier results stay as they were.
TEST(RobustnessE2e, OverflowingValuesStopBeforeAnyResult) {
    const std::string huge = "3.4028235e38 1\n3.4028235e38 1\n3.4028235e38 1\n";
    const std::string edges = "3.4e38 3.4e38\n-3.4e38 -3.4e38\n3.3e38 -3.3e38\n-3.3e38 3.3e38\n";
    struct Case {
        const char* what;
        std::string rows;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"SKM: the sum of three rows overflows, the mean would not", huge, {}},
        {"AKM: the pull between rows near both ends gives NAN", edges, {"-A", "-K2"}},
        {"AKMDI: the estimated MaxDist is infinite", edges, {"-I"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("F.DAT", c.rows);
        dir.write("F.KMC", "earlier centres\n");
        dir.write("F.KTF", "earlier values\n");
        std::vector<std::string> args = {"F.DAT", "-Q3", "-D"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = run_kmeans(dir, args);
        EXPECT_EQ(r.status, 5);
        EXPECT_TRUE(r.err.ends_with("\nPANIC: Values too large for single precision: F.DAT\n\n")) << r.err;
        EXPECT_EQ(r.out.find("mdist:"), std::string::npos) << r.out;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"F.DAT", "F.KMC", "F.KTF"}));
        EXPECT_EQ(dir.read("F.KMC"), "earlier centres\n");
        EXPECT_EQ(dir.read("F.KTF"), "earlier values\n");
    }
}

}  // namespace

namespace {

// A failed write of standard output ends the run as a failed result file
// does: one reason line, a PANIC naming standard output, status 5, after
// everything else the run wrote; results committed before stay, the same
// bytes as when the output is read, and a failure in the middle of a data
// file leaves nothing of it (no hidden file either). Standard error cannot
// report its own failure, but it turns a normal end into status 5. A closed
// descriptor stays unused, so no result file takes its place.
TEST(RobustnessE2e, FailedWritesOfTheConsoleAreFailures) {
    const std::string panic = "\nPANIC: Can't write file: standard output\n\n";
    const std::string iris = read_file(examples_dir() + "/IRIS.DAT");
    const std::vector<std::string> args = {"S.DAT", "IRIS.DAT", "-K3", "-R2", "-D", "-Q2"};
    const std::vector<std::string> results = {"IRIS.KMC", "IRIS.KTF", "S.KMC", "S.KTF"};
    RunOptions opts;
    opts.env = {"KMEANS_SEED=1"};
    ScratchDir ref;
    ref.write("S.DAT", "1 2\n3 4\n10 10\n11 12\n");
    ref.write("IRIS.DAT", iris);
    const RunResult want = run_kmeans(ref, args, opts);
    ASSERT_EQ(want.status, 0) << want.err;
    ASSERT_NE(want.out, "");
    ASSERT_NE(want.err, "");

    struct Case {
        const char* what;
        Sink out, err;
        std::string err_text;  // standard error when it is captured
    };
    const Case cases[] = {
        {"output to /dev/full", Sink::full_device, Sink::capture,
         want.err + "\nThere is no space left on the device." + panic},
        {"output to a closed pipe", Sink::closed_pipe, Sink::capture,
         want.err + "\nThe pipe is closed at its other end." + panic},
        {"output closed", Sink::closed, Sink::capture, want.err + "\nIt is closed, or open for reading only." + panic},
        {"error to /dev/full", Sink::capture, Sink::full_device, ""},
        {"error to a closed pipe", Sink::capture, Sink::closed_pipe, ""},
        {"both closed", Sink::closed, Sink::closed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("S.DAT", "1 2\n3 4\n10 10\n11 12\n");
        dir.write("IRIS.DAT", iris);
        RunOptions o = opts;
        o.out = c.out;
        o.err = c.err;
        const RunResult r = run_kmeans(dir, args, o);
        EXPECT_EQ(r.status, 5);
        if (c.err == Sink::capture) {
            EXPECT_EQ(r.err, c.err_text);
        }
        if (c.out == Sink::capture) {
            EXPECT_EQ(r.out, want.out);
        }
        EXPECT_EQ(dir.entries(),
                  (std::vector<std::string>{"IRIS.DAT", "IRIS.KMC", "IRIS.KTF", "S.DAT", "S.KMC", "S.KTF"}));
        for (const std::string& name : results) EXPECT_EQ(dir.read(name), ref.read(name)) << name;
    }

    // Listings that fill the output's buffer fail in the middle of the file.
    ScratchDir dir;
    dir.write("IRIS.DAT", iris);
    RunOptions o = opts;
    o.out = Sink::full_device;
    RunResult r = run_kmeans(dir, {"IRIS.DAT", "-K20", "-R10", "-D2", "-Q3"}, o);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(count_of(r.err, "PANIC"), 1u) << r.err;
    EXPECT_NE(r.err.find("\nThere is no space left on the device." + panic + "\nMajorClean...Ready!\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"IRIS.DAT"});

    // The answer to --help fails alike; a run that writes nothing fails nothing.
    r = run_kmeans(dir, {"--help"}, o);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "\nThere is no space left on the device." + panic);
    r = run_kmeans(dir, {"IRIS.DAT", "-K3", "-Q3"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

}  // namespace
