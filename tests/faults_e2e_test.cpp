// Faults of the environment a run must survive without losing or mixing
// results: closed standard descriptors, an address-space limit with many
// threads, and what a killed commit left behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e.h"

namespace {

const char* const rows = "1 1\n1 2\n8 8\n9 8\n1 1.5\n8.5 9\n";

// Runs kmeans with the descriptors `closing` ("0<&- 2>&-", ...) closed.
RunResult run_closed(const ScratchDir& dir, const std::string& closing, const std::vector<std::string>& args) {
    RunOptions opts;
    opts.binary = "/bin/sh";
    opts.env = {"KMEANS_SEED=7"};
    std::vector<std::string> all = {"-c", "exec \"$0\" \"$@\" " + closing, kmeans_binary()};
    all.insert(all.end(), args.begin(), args.end());
    return run_kmeans(dir, all, opts);
}

// With any of the standard descriptors closed, no result file takes its
// number: Learn and Recall write exactly the files of a run with all three
// open, and nothing of the console gets into them. (The messages a closed
// standard error could not take make the status 5.)
TEST(FaultsE2e, ClosedStandardDescriptorsLeaveTheResultsAlone) {
    ScratchDir want;
    want.write("S.DAT", rows);
    RunOptions seeded;
    seeded.env = {"KMEANS_SEED=7"};
    ASSERT_EQ(run_kmeans(want, {"S.DAT", "-K2"}, seeded).status, 0);
    ASSERT_EQ(run_kmeans(want, {"S.DAT", "+S"}, seeded).status, 0);
    for (const char* closing : {"0<&- 2>&-", "0<&- 1>&- 2>&-", "1>&-", "2>&-"}) {
        SCOPED_TRACE(closing);
        ScratchDir dir;
        dir.write("S.DAT", rows);
        const int status = std::string(closing).find("2>&-") != std::string::npos ? 5 : 0;
        EXPECT_EQ(run_closed(dir, closing, {"S.DAT", "-K2"}).status, status);
        EXPECT_EQ(run_closed(dir, closing, {"S.DAT", "+S"}).status, status);
        for (const char* name : {"S.KMC", "S.KTF", "S.KMR"}) EXPECT_EQ(dir.read(name), want.read(name)) << name;
        EXPECT_EQ(dir.entries(), want.entries());
    }
}

// Under an address-space limit that one thread works within, many threads
// work too (the program starts no more than the limit leaves room for) and
// give the same results.
TEST(FaultsE2e, ManyThreadsWithinAnAddressSpaceLimit) {
#ifdef KMEANS_ASAN
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here";
#endif
    std::string text;
    for (int i = 0; i < 100000; ++i) text += std::to_string(i % 97) + " " + std::to_string(i % 13) + ".25\n";
    auto run = [&](const ScratchDir& dir, int mib, int threads) {
        RunOptions opts;
        opts.binary = "/bin/sh";
        opts.env = {"KMEANS_SEED=7", "KMEANS_THREADS=" + std::to_string(threads)};
        const std::string limit = "ulimit -v " + std::to_string(mib * 1024) + " && exec \"$0\" \"$@\"";
        return run_kmeans(dir, {"-c", limit, kmeans_binary(), "T.DAT", "-K4", "-Q3"}, opts);
    };
    // The smallest limit (in steps of 4 MiB) that one thread needs.
    ScratchDir one;
    one.write("T.DAT", text);
    int mib = 8;
    while (mib <= 256 && run(one, mib, 1).status != 0) mib += 4;
    ASSERT_LE(mib, 256);
    ScratchDir many;
    many.write("T.DAT", text);
    const RunResult r = run(many, mib, 64);
    EXPECT_EQ(r.status, 0) << mib << " MiB: " << r.err;
    EXPECT_EQ(many.read("T.KMC"), one.read("T.KMC"));
    EXPECT_EQ(many.read("T.KTF"), one.read("T.KTF"));
}

// What a run killed in the middle of its commit left is finished by the
// next run that reads or writes those names, which says so: here a Recall
// that reads the centre file of a pair whose record was complete finds the
// new pair in place, and nothing hidden stays; a commit killed before its
// record was complete is removed, leaving the earlier pair.
TEST(FaultsE2e, InterruptedCommitIsFinishedByTheNextRun) {
    ScratchDir dir;
    dir.write("N.DAT", "1 1\n9 9\n");
    dir.write("A.KMC", "-1\n0 0\n");
    dir.write("A.KTF", "1\n");
    dir.write(".A.KMC~new", "-1\n1 1\n9 9\n");
    dir.write(".A.KTF~new", "1\n2\n");
    dir.write(".A.KMC~old", "-1\n0 0\n");
    dir.write(".A.KMC~commit", "kmeans commit\nA.KMC\nA.KTF\nend\n");
    RunResult r = run_kmeans(dir, {"N.DAT", "+A", "-Q3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "INFO: Finished the results an interrupted run left: A.KMC A.KTF\n"
                     "VARNING: Bad MaxDist -1.0000 set to 3.403E+038: A.KMC\n");
    EXPECT_EQ(dir.read("A.KMC"), "-1\n1 1\n9 9\n");
    EXPECT_EQ(dir.read("A.KTF"), "1\n2\n");
    EXPECT_EQ(dir.read("N.KMR"), "1\n2\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"A.KMC", "A.KTF", "N.DAT", "N.KMR"}));

    dir.write(".A.KMC~new", "-1\n5 5\n");
    dir.write(".A.KMC~commit", "kmeans commit\nA.KMC\n");  // cut short by the kill
    r = run_kmeans(dir, {"N.DAT", "+A", "-Q3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "INFO: Removed what an interrupted run left: .A.KMC~commit\n"
                     "VARNING: Bad MaxDist -1.0000 set to 3.403E+038: A.KMC\n");
    EXPECT_EQ(dir.read("A.KMC"), "-1\n1 1\n9 9\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"A.KMC", "A.KTF", "N.DAT", "N.KMR"}));
}

}  // namespace

namespace {

// Rows beyond the memory budget go to a spill file; where none can be
// written (no such place) the run reads the data file again, says so in one
// INFO line, and gives the same results.
TEST(FaultsE2e, SpillThatCannotBeWrittenFallsBackToTheDataFile) {
    ScratchDir want, dir;
    want.write("S.DAT", rows);
    dir.write("S.DAT", rows);
    RunOptions opts;
    opts.env = {"KMEANS_SEED=7"};
    ASSERT_EQ(run_kmeans(want, {"S.DAT", "-K2", "-Q3"}, opts).status, 0);
    opts.env = {"KMEANS_SEED=7", "KMEANS_MEMORY=0", "KMEANS_SPILL=/nonexistent/place"};
    const RunResult r = run_kmeans(dir, {"S.DAT", "-K2", "-Q3"}, opts);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "\nINFO: No spill file can be written in /nonexistent/place (The directory does not exist or"
                     " takes no files.) for the rows of S.DAT beyond the memory budget: they are read from it"
                     " again on every pass.\n");
    EXPECT_EQ(dir.read("S.KMC"), want.read("S.KMC"));
    EXPECT_EQ(dir.read("S.KTF"), want.read("S.KTF"));
}

}  // namespace
