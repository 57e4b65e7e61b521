// End-to-end tests of the command line: banner, help screen, refusals and
// their exit statuses, the environment variable, the program's own name, the
// diagnostic switch line, unknown switch characters and the end of a run.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <string>
#include <vector>

#include "cluster/nearest.h"
#include "e2e.h"

namespace {

namespace fs = std::filesystem;

// The help screen as the program named `name` writes it (without the
// "ONE filename" line and without the extra '?' line).
std::string help_text(const std::string& name) {
    std::string text =
        "Program for computing K-means clustering.\n"
        "\n"
        " Usage: @ <DataFile.ext> (+ClustCFile) (-K#)(-R#)(-G#)(-M#)(-F#) (-SAINBD)\n"
        "\n"
        "The Datafile must have at least 1 column of data.\n"
        "* and/or ? can be used in the datafilename.\n"
        "\n"
        "The CusterCenterFile(.KMC) is used for Recall only. Default is Learn.\n"
        "\n"
        "Switch K sets number of clusters. (Default value is 5)\n"
        "\n"
        "Switch R sets number of iterations. (Default value is 10)\n"
        "\n"
        "Switch G sets the learning rate parameter. Only AKM & AKMDI.\n"
        "(Default value is 0.5000)\n"
        "\n"
        "Switch M sets the maximum distance between one point and the closest\n"
        "clustercenter before a new cluster is used. Only AKMDI.\n"
        "\n"
        "Switch F sets the iteration parameter that decreases the learning rate\n"
        "for every iteration. (Default value is 0.750) Only AKM & AKMDI.\n"
        "\n"
        "Switch A puts the Adaptive K-means algorithm to use. (AKM)\n"
        "Switch I puts the Adaptiva K-means algorithm with dynamic\n"
        "initsialization to use. (AKMDI)\n"
        "(Default value is Standard K-means algorithm) (SKM)\n"
        "\n"
        "Switch B puts Cityblock distance to use. (Default is Euclidean distance)\n"
        "Switch U puts no. of used clusters in the .KMC resultfile.\n"
        "\n"
        "Switch D gives meandistance, no.of points per cluster and overlap.\n"
        "\n"
        "Max.no. of variables: 2048  Max.no. of clusters: 768\n"
        "The results (clustercenter) are written to files with extension .KMC.\n"
        "Clustervaluefiles are written to files with extension .KTF.\n"
        "\n"
        "Example usage: @ TFILE.DAT -A -R6 -G0.3\n"
        "\n"
        "Uses the AKM algorithm on datafile TFILE.DAT. No. of iterations is 6 and\n"
        "the learning rate is 0.3. The results are written to TFILE.KMC & .KTF \n";
    for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, name);
    return text;
}

std::string banner(const std::string& name) { return " <<< " + name + " >>>  Version: 1.15W32 DOS\n\n"; }

const std::string one_filename = "PANIC: ONE filename/pattern must be given.\n\n";
const std::string extra_line = "-Q#:quiet(1-3) -T:stopwatch -D:debug -C:Copyright\n";
const std::string small_data = "1 2\n3 4\n10 10\n11 12\n";

bool starts_with(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }
bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
// ---------------------------------------------------------------- help screen

struct HelpCase {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string err;
};

TEST(CliE2eHelp, Table) {
    const std::string b = banner("kmeans");
    const std::string h = help_text("kmeans");
    const std::string multi = "PANIC: Multiple categorycenterfilenames given: A B\n";
    const HelpCase cases[] = {
        {{}, {}, b + one_filename + h},
        {{"-Q3"}, {}, one_filename + h},
        {{"-Q2"}, {}, b + one_filename + h},
        {{"-q3"}, {}, one_filename + h},
        {{}, {"KMEANS=Q3"}, one_filename + h},
        {{"-?"}, {}, b + one_filename + h + extra_line},
        {{"/?"}, {}, b + one_filename + h + extra_line},
        {{"-K3"}, {}, b + one_filename + h},   // still the default 5
        {{"-K3", "-R2", "-G0.1", "-F1"}, {}, b + one_filename + h},
        // Switches are not checked before the help screen: no refusal, no INFO.
        {{"-K1", "-S"}, {}, b + one_filename + h},
        // No notice and no stopwatch at the help screen.
        {{"-C", "-T"}, {}, b + one_filename + h},
        {{"DATA.DAT", "+A", "+B"}, {}, multi + b + h},
        {{"+A", "+B", "DATA.DAT"}, {}, multi + b + one_filename + h},
        {{"DATA.DAT", "+A", "+B", "-Q3"}, {}, multi + b + h},   // -Q3 after the stop is never read
        {{"-Q3", "DATA.DAT", "+A", "+B", "-?"}, {}, multi + h},
        {{"+", "-Q3"}, {}, "INFO: No categorycenterfilename given after +.\n" + one_filename + h},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        RunOptions opts;
        opts.env = c.env;
        RunResult r = run_kmeans(dir, c.args, opts);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(r.status, 1) << joined;
        EXPECT_EQ(r.err, c.err) << joined;
        EXPECT_EQ(r.out, "") << joined;
        EXPECT_TRUE(dir.entries().empty()) << joined;
    }
}

TEST(CliE2eHelp, WithDebugSwitchTheDiagnosticLineComesFirst) {
    ScratchDir dir;
    RunResult r = run_kmeans(dir, {"-D2", "-K3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "env:() sw:(D2K3)\n");
    EXPECT_EQ(r.err, banner("kmeans") + one_filename + help_text("kmeans"));
}

// What --help writes after the help screen for the program named `name`
// (the switch variable is named after it).
std::string environment_list(const std::string& variable) {
    return "\nEnvironment variables:\n"
           "  " + variable + std::string(17 - variable.size(), ' ') +
           "switch text read after the command line's (" + variable + "=K8A)\n"
           "  KMEANS_SEED      random start seed, 0 to 4294967295 (default: the clock)\n"
           "  KMEANS_INIT      start of SKM and AKM: random (default) or kmeans++\n"
           "  KMEANS_RESTARTS  starts of SKM and AKM, 1 to 1000; the best is kept\n"
           "  KMEANS_THREADS   threads, 1 to 1024 (default: one per processor)\n"
           "  KMEANS_MEMORY    megabytes for rows kept in memory (default: half the memory)\n"
           "  KMEANS_KERNEL    search kernel of the run: portable, avx2 or avx512\n"
           "  KMEANS_PRUNE     SKM skips rows whose centre cannot change: on (default), off\n"
           "\nManual: man kmeans, and README.md in /usr/share/doc/kmeans/ (or the sources).\n";
}

// An argument exactly "--help" or "--version", anywhere, is answered alone
// on standard output with status 0: no banner, no switch read (nor refused),
// no run, no file touched; the first of the two counts. Anything else that
// merely looks like them stays switch text. The answers name a copy of the
// program by its own name.
TEST(CliE2eQuestion, AnsweredAloneOnStandardOutput) {
    ScratchDir bin;
    fs::copy_file(kmeans_binary(), bin.path / "clus.exe");
    const std::string clus = (bin.path / "clus.exe").string();
    const std::string help = help_text("kmeans") + extra_line + environment_list("KMEANS");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> env;
        std::string binary;
        std::string out;
    };
    const Case cases[] = {
        {{"--help"}, {}, "", help},
        {{"D.DAT", "-K1", "--help"}, {"KMEANS=DQ3", "KMEANS_SEED=x"}, "", help},
        {{"D.DAT", "+A", "+B", "--help", "--version"}, {}, "", help},
        {{"--version"}, {}, "", "kmeans 1.15\n"},
        {{"-?", "'*'", "--version", "--help", "D.DAT"}, {"KMEANS_THREADS=0"}, "", "kmeans 1.15\n"},
        {{"--version"}, {}, clus, "clus 1.15\n"},
        {{"--help"}, {}, clus, help_text("clus") + extra_line + environment_list("CLUS")},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        ScratchDir dir;
        dir.write("D.DAT", small_data);
        RunOptions opts;
        opts.env = c.env;
        opts.binary = c.binary;
        RunResult r = run_kmeans(dir, c.args, opts);
        EXPECT_EQ(r.status, 0) << joined;
        EXPECT_EQ(r.out, c.out) << joined;
        EXPECT_EQ(r.err, "") << joined;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"D.DAT"}) << joined;
    }
    // Only the exact words: "--HELP" and "-help" are switch text as ever.
    ScratchDir dir;
    RunResult r = run_kmeans(dir, {"--HELP"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, banner("kmeans") + one_filename + help_text("kmeans"));
    dir.write("D.DAT", small_data);
    r = run_kmeans(dir, {"D.DAT", "-help", "-K2", "-R1", "-Q3"});
    EXPECT_EQ(r.status, 0);
    const std::string unknown = "INFO: Unknown character in switch/environment: ";
    EXPECT_EQ(r.err, unknown + "\"H\"\n" + unknown + "\"E\"\n" + unknown + "\"L\"\n" + unknown + "\"P\"\n");
    EXPECT_TRUE(dir.exists("D.KMC"));
}

// ---------------------------------------------------------------- program name

TEST(CliE2eName, CopyUnderAnotherName) {
    const char* names[][2] = {{"clus.exe", "clus"}, {"myprog", "myprog"}, {"My.Prog.bin", "My"}};
    for (const auto& n : names) {
        ScratchDir dir;
        fs::copy_file(kmeans_binary(), dir.path / n[0]);
        RunOptions opts;
        opts.binary = (dir.path / n[0]).string();
        RunResult r = run_kmeans(dir, {}, opts);
        EXPECT_EQ(r.status, 1) << n[0];
        EXPECT_EQ(r.err, banner(n[1]) + one_filename + help_text(n[1])) << n[0];
    }
}

TEST(CliE2eName, CopyReadsItsOwnVariable) {
    ScratchDir dir;
    fs::copy_file(kmeans_binary(), dir.path / "clus.exe");
    RunOptions opts;
    opts.binary = (dir.path / "clus.exe").string();
    const std::string refusal = "PANIC: Number of clusters must be between 2 och 768: Value=1\n";

    // Its own variable, name compared without regard to case.
    for (const char* env : {"CLUS=K1", "clus=k1", "Clus=K1"}) {
        opts.env = {env};
        RunResult r = run_kmeans(dir, {"X.DAT"}, opts);
        EXPECT_EQ(r.status, 4) << env;
        EXPECT_EQ(r.err, banner("clus") + refusal) << env;
    }
    // KMEANS means nothing to it.
    opts.env = {"KMEANS=K1Q3"};
    RunResult r = run_kmeans(dir, {"-R0"}, opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, banner("clus") + one_filename + help_text("clus"));
    // The diagnostic line shows its value.
    opts.env = {"KMEANS=K8", "clus=r0"};
    r = run_kmeans(dir, {"-D", "X.DAT"}, opts);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, "env:(R0) sw:(DR0)\n");
}

// ---------------------------------------------------------------- refusals

struct RefusalCase {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string line;
};

// Every case is refused with status 4, the banner and its PANIC line, and
// leaves nothing behind.
template <class Cases>
void expect_refused(const Cases& cases) {
    for (const auto& c : cases) {
        ScratchDir dir;
        RunOptions opts;
        opts.env = c.env;
        RunResult res = run_kmeans(dir, c.args, opts);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        for (const auto& e : c.env) joined += e + " ";
        EXPECT_EQ(res.status, 4) << joined;
        EXPECT_EQ(res.err, banner("kmeans") + c.line) << joined;
        EXPECT_EQ(res.out, "") << joined;
        EXPECT_TRUE(dir.entries().empty()) << joined;
    }
}

TEST(CliE2eRefusal, Table) {
    const std::string r = "PANIC: Number of iterationes must be greater than 0: Value=";
    const std::string k = "PANIC: Number of clusters must be between 2 och 768: Value=";
    const std::string f = "PANIC: The iteration parameter must be between 0 and 2: Value=";
    const std::string g = "PANIC: The learning rate parameter must be greater than 0: Value=";
    const std::string m = "PANIC: Maximum distance must be greater than 0: Value=";
    const RefusalCase cases[] = {
        {{"X.DAT", "-R"}, {}, r + "0\n"},
        {{"X.DAT", "-R0"}, {}, r + "0\n"},
        {{"X.DAT", "-R-2"}, {}, r + "-2\n"},
        {{"X.DAT", "-K1"}, {}, k + "1\n"},
        {{"X.DAT", "-K769"}, {}, k + "769\n"},
        {{"X.DAT", "/k1"}, {}, k + "1\n"},
        {{"X.DAT", "-F0"}, {}, f + "0.000\n"},
        {{"X.DAT", "-F2.5"}, {}, f + "2.500\n"},
        {{"X.DAT", "-G"}, {}, g + "0.00000\n"},
        {{"X.DAT", "-G0"}, {}, g + "0.00000\n"},
        {{"X.DAT", "-G-1"}, {}, g + "-1.00000\n"},
        {{"X.DAT", "-M0"}, {}, m + "0         \n"},
        {{"X.DAT", "-R0", "-K1"}, {}, r + "0\n"},
        {{"X.DAT", "-M0", "-K1"}, {}, k + "1\n"},
        {{"X.DAT", "-K1", "-K3"}, {}, k + "1\n"},   // the first K counts
        {{"X.DAT"}, {"KMEANS=K1"}, k + "1\n"},
        {{"X.DAT"}, {"kmeans=k1"}, k + "1\n"},
        {{"X.DAT", "-K3"}, {"KMEANS=R0"}, r + "0\n"},
        // The seed variable is checked after the switches; the first refusal wins.
        {{"X.DAT"}, {"KMEANS_SEED=abc"}, "PANIC: KMEANS_SEED must be a whole number from 0 to 4294967295: Value=abc\n"},
        {{"X.DAT"}, {"KMEANS_SEED=4294967296"},
         "PANIC: KMEANS_SEED must be a whole number from 0 to 4294967295: Value=4294967296\n"},
        {{"X.DAT", "-K1"}, {"KMEANS_SEED=abc"}, k + "1\n"},
    };
    expect_refused(cases);
}

// KMEANS_INIT takes exactly its two names and KMEANS_RESTARTS a whole number
// from 1 to 1000, checked after the seed and before the resources.
TEST(CliE2eRefusal, StartVariables) {
    const std::string init = "PANIC: KMEANS_INIT must be random or kmeans++: Value=";
    const std::string restarts = "PANIC: KMEANS_RESTARTS must be a whole number from 1 to 1000: Value=";
    const RefusalCase cases[] = {
        {{"X.DAT"}, {"KMEANS_INIT=kmeans"}, init + "kmeans\n"},
        {{"X.DAT"}, {"KMEANS_INIT=Random"}, init + "Random\n"},
        {{"X.DAT"}, {"KMEANS_INIT="}, init + "\n"},
        {{"X.DAT"}, {"KMEANS_RESTARTS=0"}, restarts + "0\n"},
        {{"X.DAT"}, {"KMEANS_RESTARTS=1001"}, restarts + "1001\n"},
        {{"X.DAT"}, {"KMEANS_RESTARTS=+3"}, restarts + "+3\n"},
        {{"X.DAT"}, {"KMEANS_RESTARTS="}, restarts + "\n"},
        {{"X.DAT"}, {"KMEANS_INIT=x", "KMEANS_RESTARTS=0"}, init + "x\n"},
        {{"X.DAT"}, {"KMEANS_SEED=x", "KMEANS_INIT=x"},
         "PANIC: KMEANS_SEED must be a whole number from 0 to 4294967295: Value=x\n"},
        {{"X.DAT"}, {"KMEANS_RESTARTS=0", "KMEANS_THREADS=0"}, restarts + "0\n"},
    };
    expect_refused(cases);
}

// KMEANS_KERNEL takes exactly the three kernel names, and only a kernel this
// processor runs; both refusals come after those of the switches and of the
// other variables. KMEANS_PRUNE takes on or off, checked after the kernel.
TEST(CliE2eRefusal, KernelVariable) {
    const std::string bad = "PANIC: KMEANS_KERNEL must be portable, avx2 or avx512: Value=";
    std::vector<RefusalCase> cases = {
        {{"X.DAT"}, {"KMEANS_KERNEL=AVX2"}, bad + "AVX2\n"},
        {{"X.DAT"}, {"KMEANS_KERNEL="}, bad + "\n"},
        {{"X.DAT"}, {"KMEANS_KERNEL=avx2 "}, bad + "avx2 \n"},
        {{"X.DAT"}, {"KMEANS_KERNEL=automatic"}, bad + "automatic\n"},
        {{"X.DAT", "-K1"}, {"KMEANS_KERNEL=x"}, "PANIC: Number of clusters must be between 2 och 768: Value=1\n"},
        {{"X.DAT"}, {"KMEANS_KERNEL=x", "KMEANS_THREADS=0"},
         "PANIC: KMEANS_THREADS must be a whole number from 1 to 1024: Value=0\n"},
        {{"X.DAT"}, {"KMEANS_PRUNE=ON"}, "PANIC: KMEANS_PRUNE must be on or off: Value=ON\n"},
        {{"X.DAT"}, {"KMEANS_PRUNE="}, "PANIC: KMEANS_PRUNE must be on or off: Value=\n"},
        {{"X.DAT"}, {"KMEANS_PRUNE=1", "KMEANS_KERNEL=x"}, bad + "x\n"},
    };
    for (kmeans::NearestPath path : {kmeans::NearestPath::portable, kmeans::NearestPath::avx2,
                                     kmeans::NearestPath::avx512}) {
        const std::string name = kmeans::nearest_path_name(path);
        if (!kmeans::nearest_path_runs(path))
            cases.push_back({{"X.DAT"}, {"KMEANS_KERNEL=" + name},
                             "PANIC: KMEANS_KERNEL=" + name + ": this processor cannot run that kernel\n"});
    }
    expect_refused(cases);
}

// KMEANS_SEED fixes the random start whatever the clock: the same seed gives
// the same results at another time, the seed of a second gives what the clock
// at any moment of that second gives, and another seed another start.
TEST(CliE2eEnvironment, SeedVariableFixesTheRandomStart) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    const std::int64_t second = 1767225600;  // 2026-01-01 00:00:00 UTC
    auto run = [](const RunOptions& opts) {
        ScratchDir dir;
        dir.write("IRIS.DAT", read_file(examples_dir() + "/IRIS.DAT"));
        RunResult r = run_kmeans(dir, {"IRIS.DAT", "-K5", "-R2", "-Q3"}, opts);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return dir.read("IRIS.KMC") + dir.read("IRIS.KTF");
    };
    RunOptions seeded = frozen_at(second + 86400 * 40);
    seeded.env = {"KMEANS_SEED=" + std::to_string(second)};
    const std::string first = run(seeded);
    RunOptions again = frozen_at(second + 7);
    again.env = seeded.env;
    EXPECT_EQ(run(again), first);
    EXPECT_EQ(run(frozen_at(second)), first);
    // The clock seeds with its whole seconds, truncated: 0.7 s later is still that second.
    RunOptions late;
    late.faketime = "2026-01-01 00:00:00.7";
    EXPECT_EQ(run(late), first);
    seeded.env = {"KMEANS_SEED=" + std::to_string(second + 1)};
    EXPECT_NE(run(seeded), first);
}

TEST(CliE2eRefusal, QuietLevelThreeLeavesOnlyThePanicLine) {
    ScratchDir dir;
    RunResult r = run_kmeans(dir, {"-Q3", "X.DAT", "-C", "-T", "-K769"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "PANIC: Number of clusters must be between 2 och 768: Value=769\n");
}

TEST(CliE2eRefusal, DebugTwoAddsTheFinalCleanUpMessages) {
    ScratchDir dir;
    RunResult r = run_kmeans(dir, {"X.DAT", "-D2", "-R0"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, "env:() sw:(D2R0)\n");
    EXPECT_EQ(r.err, banner("kmeans") + "PANIC: Number of iterationes must be greater than 0: Value=0\n" +
                         "\nMajorClean...Ready!\n");
    EXPECT_TRUE(ends_with(r.err, "\nMajorClean...Ready!\n"));
}

TEST(CliE2eRefusal, DebugOneHasNoCleanUpMessages) {
    ScratchDir dir;
    RunResult r = run_kmeans(dir, {"X.DAT", "-D1", "-R0"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, banner("kmeans") + "PANIC: Number of iterationes must be greater than 0: Value=0\n");
}

// ---------------------------------------------------------------- environment

TEST(CliE2eEnvironment, CommandLineOverridesEnvironment) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunOptions opts;
    opts.env = {"KMEANS=K1"};
    RunResult r = run_kmeans(dir, {"D.DAT", "-K3", "-Q3", "-R1"}, opts);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(dir.exists("D.KMC"));
    EXPECT_TRUE(dir.exists("D.KTF"));
}

TEST(CliE2eEnvironment, EnvironmentSwitchesAreUsed) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunOptions opts;
    opts.env = {"KMEANS=k2r3q1b"};
    RunResult r = run_kmeans(dir, {"D.DAT"}, opts);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(starts_with(r.err, banner("kmeans") + "No.of clusters:2 Iterations:3 Cityblock dist.\n")) << r.err;
}

TEST(CliE2eEnvironment, DashInEnvironmentTurnsOffTrailingFlag) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunOptions opts;
    opts.env = {"KMEANS=-K3"};
    RunResult r = run_kmeans(dir, {"D.DAT", "-Q1", "-R1", "-A"}, opts);
    EXPECT_EQ(r.status, 0);
    // "A-K3": AKM is off, so neither Alpha nor the AKM name is written.
    EXPECT_TRUE(starts_with(r.err, banner("kmeans") + "No.of clusters:3 Iterations:1 Euclidean dist.\n")) << r.err;
    EXPECT_NE(r.err.find("Standard K-means algorithm.\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Adaptive"), std::string::npos) << r.err;
}

// ---------------------------------------------------------------- diagnostic line

struct DiagCase {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string out;
};

TEST(CliE2eDiagnostic, Table) {
    const DiagCase cases[] = {
        {{"-D", "-R0", "X.DAT"}, {"KMEANS=k8"}, "env:(K8) sw:(DR0K8)\n"},
        {{"-D-", "-R0", "X.DAT"}, {}, "env:() sw:(D-R0)\n"},
        {{"-d0", "/r0", "X.DAT"}, {"KMEANS="}, "env:() sw:(D0R0)\n"},
        {{"-R0", "X.DAT"}, {"KMEANS=d"}, "env:(D) sw:(R0D)\n"},
        {{"-R0", "X.DAT"}, {"KMEANS=K3"}, ""},   // no D anywhere
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        RunOptions opts;
        opts.env = c.env;
        RunResult r = run_kmeans(dir, c.args, opts);
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(CliE2eDiagnostic, FirstOnStandardOutputOfADebugRun) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunResult r = run_kmeans(dir, {"D.DAT", "-D", "-K2", "-R1", "-Q3"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(starts_with(r.out, "env:() sw:(DK2R1Q3)\n\nCompute meandistance.\n")) << r.out;
}

// ---------------------------------------------------------------- unknown characters

TEST(CliE2eUnknown, LinesInOrderBeforeTheChecks) {
    ScratchDir dir;
    RunOptions opts;
    opts.env = {"KMEANS=x"};
    RunResult r = run_kmeans(dir, {"-S", "X.DAT", "-n", "-G1E-3", "-AI", "-R0"}, opts);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, banner("kmeans") +
                         "INFO: Unknown character in switch/environment: \"S\"\n"
                         "INFO: Unknown character in switch/environment: \"N\"\n"
                         "INFO: Unknown character in switch/environment: \"E\"\n"
                         "INFO: Unknown character in switch/environment: \"X\"\n"
                         "INFO: Both switch A (AKM) and I (AKMDI) given. Switch I have priority.\n"
                         "PANIC: Number of iterationes must be greater than 0: Value=0\n");
}

TEST(CliE2eUnknown, QuestionMarkWithDataFileIsReportedAndRunGoesOn) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunResult r = run_kmeans(dir, {"-?", "D.DAT", "-Q3", "-R1", "-K2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "INFO: Unknown character in switch/environment: \"?\"\n");
    EXPECT_TRUE(dir.exists("D.KMC"));
    EXPECT_TRUE(dir.exists("D.KTF"));
}

// ---------------------------------------------------------------- end of run

TEST(CliE2eEnd, NoticeWithSwitchC) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunResult r = run_kmeans(dir, {"D.DAT", "-C", "-Q3", "-R1", "-K2"});
    EXPECT_EQ(r.status, 0);
    // Two lines that start on a fresh line, and nothing else at -Q3.
    ASSERT_TRUE(starts_with(r.err, "\n")) << r.err;
    ASSERT_TRUE(ends_with(r.err, "\n")) << r.err;
    EXPECT_EQ(count_of(r.err, "\n"), 3u) << r.err;
    EXPECT_EQ(r.err.find("\n\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("kmeans"), std::string::npos) << r.err;

    // The same notice ends a default-level run.
    ScratchDir dir2;
    dir2.write("D.DAT", small_data);
    RunResult r2 = run_kmeans(dir2, {"D.DAT", "-c", "-R1", "-K2"});
    EXPECT_EQ(r2.status, 0);
    EXPECT_TRUE(ends_with(r2.err, "\n" + r.err)) << r2.err;
}

TEST(CliE2eEnd, NoNoticeAtPanicOrHelp) {
    ScratchDir dir;
    RunResult r = run_kmeans(dir, {"NOPE.DAT", "-C", "-Q3"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "\nThere is no such file.\nPANIC: Can't find/open file: NOPE.DAT\n\n");
    r = run_kmeans(dir, {"-C", "-Q3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, one_filename + help_text("kmeans"));
}

// The second the program seeded its generator with at start-up, told by the
// first random centre of its debug listing. With the data "0\n1\n" the range
// is 0 to 1, so that centre is the first draw times the draw scale.
std::optional<std::uint32_t> start_second(const std::string& out, std::uint32_t from) {
    const double c = std::bit_cast<float>(std::uint32_t{0x38000100u});
    for (std::uint32_t s = from; s <= from + 2; ++s) {
        int r = Lcg{s}.next();
        float v = static_cast<float>(static_cast<double>(r) * c * 1.0 + 0.0);
        char buf[64];
        std::snprintf(buf, sizeof buf, "\nclust[0][0]=%-12.6G \n", static_cast<double>(v));
        if (out.find(buf) != std::string::npos) return s;
    }
    return std::nullopt;
}

// The notice as switch C writes it.
std::string notice_text() {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    return run_kmeans(dir, {"D.DAT", "-C", "-Q3", "-R1", "-K2"}).err;
}

TEST(CliE2eEnd, NoticeByChance) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    const std::string notice = notice_text();
    ASSERT_FALSE(notice.empty());
    // 2026-01-01 00:00:28 UTC draws below 1000 at the end of a run.
    const std::uint32_t lucky = 1767225628u;
    ASSERT_LT(end_of_run_draw(lucky), 1000);
    ASSERT_GE(end_of_run_draw(lucky - 1), 1000);
    ASSERT_GE(end_of_run_draw(lucky + 1), 1000);

    // The faked clock may run on from the given second, so the seconds the
    // program reads are found from its output: the start second from the
    // random centres, the end second from the elapsed time.
    struct Case {
        const char* time;
        std::uint32_t seconds;
        bool quiet;   // -Q1: the chance notice needs quiet level 0
    };
    const Case cases[] = {
        {"2026-01-01 00:00:27", lucky - 1, false},
        {"2026-01-01 00:00:28", lucky, false},
        {"2026-01-01 00:00:27", lucky - 1, true},
        {"2026-01-01 00:00:28", lucky, true},
    };
    bool lucky_seen = false;
    for (int attempt = 0; attempt < 5 && !lucky_seen; ++attempt) {
        for (const auto& c : cases) {
            ScratchDir dir;
            dir.write("U.DAT", "0\n1\n");
            RunOptions opts;
            opts.faketime = c.time;
            std::vector<std::string> args = {"U.DAT", "-D2", "-T", "-R1", "-K2"};
            if (c.quiet) args.push_back("-Q1");
            RunResult r = run_kmeans(dir, args, opts);
            ASSERT_EQ(r.status, 0) << r.err;
            std::optional<std::uint32_t> start = start_second(r.out, c.seconds);
            ASSERT_TRUE(start.has_value()) << r.out;
            std::size_t at = r.err.find("\nElapsed time: ");
            ASSERT_NE(at, std::string::npos) << r.err;
            std::uint32_t end = *start + static_cast<std::uint32_t>(std::atoi(r.err.c_str() + at + 15));
            bool want = !c.quiet && end_of_run_draw(end) < 1000;
            if (want) lucky_seen = true;
            bool got = r.err.find(notice) != std::string::npos;
            EXPECT_EQ(got, want) << c.time << " " << c.quiet << " end second " << end << "\n" << r.err << r.out;
            // The notice comes before the elapsed time.
            if (got) {
                EXPECT_LT(r.err.find(notice), at);
            }
        }
    }
    EXPECT_TRUE(lucky_seen);
}

TEST(CliE2eEnd, StopwatchAtQuietThree) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunResult r = run_kmeans(dir, {"D.DAT", "-T", "-Q3", "-R1", "-K2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err == "\nElapsed time: 0 s.\n" || r.err == "\nElapsed time: 1 s.\n") << r.err;
}

TEST(CliE2eEnd, NoticeBeforeStopwatch) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunResult notice = run_kmeans(dir, {"D.DAT", "-C", "-Q3", "-R1", "-K2"});
    RunResult both = run_kmeans(dir, {"D.DAT", "-T", "-C", "-Q3", "-R1", "-K2"});
    EXPECT_EQ(both.status, 0);
    EXPECT_TRUE(both.err == notice.err + "\nElapsed time: 0 s.\n" || both.err == notice.err + "\nElapsed time: 1 s.\n")
        << both.err;
}

TEST(CliE2eEnd, UsedClustersStatus) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    // A frozen clock fixes the random start; from this one both clusters
    // keep rows (another start may leave one empty).
    RunOptions frozen;
    frozen.faketime = "2026-01-01 00:00:00";
    RunResult r = run_kmeans(dir, {"D.DAT", "-U", "-K2", "-Q3"}, frozen);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    r = run_kmeans(dir, {"D.DAT", "-U2", "-K2", "-Q3"}, frozen);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "2\n");
    r = run_kmeans(dir, {"D.DAT", "-K2", "-Q3"});
    EXPECT_EQ(r.status, 0);
    // Every argument ignored: no data file learned, status -512 reported as 0.
    r = run_kmeans(dir, {"D.KMC", "-U", "-Q3"});
    EXPECT_EQ(r.status, 0);
}

// ---------------------------------------------------------------- data-file arguments

TEST(CliE2eFiles, MissingDataFile) {
    ScratchDir dir;
    RunResult r = run_kmeans(dir, {"nope.dat", "-Q2"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, banner("kmeans") + "\nThere is no such file.\nPANIC: Can't find/open file: nope.dat\n\n");
    EXPECT_TRUE(dir.entries().empty());
    r = run_kmeans(dir, {"nope.dat"});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(ends_with(r.err, "\nPANIC: Can't find/open file: nope.dat\n\n")) << r.err;
    EXPECT_TRUE(dir.entries().empty());
}

TEST(CliE2eFiles, ResultFileArgumentsAreIgnored) {
    for (const std::string name : {"X.KMC", "x.kmc", "y.Ktf", "Z.KMR", "a.kmc.dat"}) {
        ScratchDir dir;
        dir.write("D.DAT", small_data);
        RunResult r = run_kmeans(dir, {name, "D.DAT", "-Q2", "-R1", "-K2"});
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_TRUE(starts_with(r.err, banner("kmeans") + "INFO: Ignoring file: " + name + "\n")) << r.err;
        EXPECT_TRUE(dir.exists("D.KMC")) << name;
        EXPECT_TRUE(dir.exists("D.KTF")) << name;
        EXPECT_EQ(dir.entries().size(), 3u) << name;
    }
    // Not written at quiet level 3.
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunResult r = run_kmeans(dir, {"x.kmc", "D.DAT", "-Q3", "-R1", "-K2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST(CliE2eFiles, LonePlusWithDataFileLearns) {
    ScratchDir dir;
    dir.write("D.DAT", small_data);
    RunResult r = run_kmeans(dir, {"+", "D.DAT", "-Q2", "-R1", "-K2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(starts_with(r.err, "INFO: No categorycenterfilename given after +.\n" + banner("kmeans") +
                                       "\nWorking on file: D.DAT         Creating files: D.KMC        D.KTF\n"))
        << r.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"D.DAT", "D.KMC", "D.KTF"}));
}

TEST(CliE2eFiles, NameCaseKeptInResultNames) {
    ScratchDir dir;
    dir.write("small.dat", small_data);
    RunResult r = run_kmeans(dir, {"small.dat", "-Q3", "-R1", "-K2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"small.KMC", "small.KTF", "small.dat"}));
}

TEST(CliE2eFiles, QuotedPatternExpandedByTheProgram) {
    ScratchDir dir;
    dir.write("a.dat", small_data);
    dir.write("B.DAT", small_data);
    dir.write("c.txt", small_data);
    RunResult r = run_kmeans(dir, {"*.dat", "-Q2", "-R1", "-K2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(r.err, "\nWorking on file: "), 2u) << r.err;
    EXPECT_EQ(dir.entries(),
              (std::vector<std::string>{"B.DAT", "B.KMC", "B.KTF", "a.KMC", "a.KTF", "a.dat", "c.txt"}));
}

TEST(CliE2eFiles, PatternWithoutMatchesIsKept) {
    ScratchDir dir;
    RunResult r = run_kmeans(dir, {"*.dat", "-Q3"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "\nThere is no such file.\nPANIC: Can't find/open file: *.dat\n\n");
}

}  // namespace
