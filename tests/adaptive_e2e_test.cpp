// End-to-end tests of the adaptive algorithms (switch A, switch I) and of the
// overlap count of switch D. Every expected byte is worked out by hand in the
// comments, or by a few lines of independent float/double arithmetic here.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

// `s` left-justified in a field of `width` characters.
std::string pad(const std::string& s, std::size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// One value of a centre line or listing: "%-12.6G " for a value whose text is `s`.
std::string cell(const std::string& s) { return pad(s, 12) + " "; }

// The AKM iteration header "\nIteration:%-3d Alpha:%-10.6G ".
std::string akm_header(int i, const std::string& alpha) {
    return "\nIteration:" + pad(std::to_string(i), 3) + " Alpha:" + pad(alpha, 10) + " ";
}

// The AKMDI header "\nIteration:%-3d Alpha:%-10.6G    ": four blanks after the
// rate, where the progress display writes.
std::string akmdi_header(int i, const std::string& alpha) {
    return "\nIteration:" + pad(std::to_string(i), 3) + " Alpha:" + pad(alpha, 10) + "    ";
}

// The AKMDI progress display "\b\b\b\b%03d%c".
std::string opened(const char* three_digits, char spinner) {
    return std::string("\b\b\b\b") + three_digits + spinner;
}

std::string isolated(int cluster) { return "\nVARNING: Cluster " + std::to_string(cluster) + " is isolated.\n"; }

// The text of `s` from the first occurrence of `marker` on ("" when absent).
std::string from(const std::string& s, const std::string& marker) {
    std::size_t at = s.find(marker);
    return at == std::string::npos ? std::string() : s.substr(at);
}

// The text of `s` after the "Working on file ... Creating files: ..." line
// of the data file `name` (the console output that belongs to that file).
std::string after_working_line(const std::string& s, const std::string& name) {
    std::size_t at = s.find("\nWorking on file: " + name);
    if (at == std::string::npos) return "<no working line>";
    std::size_t end = s.find('\n', at + 1);
    return s.substr(end + 1);
}

// The draws of the program's generator after seeding with `seconds`.
std::vector<int> draws(std::uint32_t seconds, int n) {
    std::vector<int> out;
    Lcg rng{seconds};
    for (int i = 0; i < n; ++i) out.push_back(rng.next());
    return out;
}

// ---------------------------------------------------------------------------
// AKM (switch A)

// Constant data: every random centre takes the constant, all rows are at
// distance 0 from every centre, ties go to cluster 1, and cluster 2 never
// wins a row. So the run is the same whatever the clock.
struct RateCase {
    std::string name;
    std::vector<std::string> switches;
    std::vector<std::string> alphas;  // the %-10.6G texts of Alpha per iteration
};

std::ostream& operator<<(std::ostream& o, const RateCase& c) { return o << c.name; }

class AdaptiveAkmRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(AdaptiveAkmRate, IterationHeadersShowTheRateAndEveryPassWarns) {
    const RateCase& c = GetParam();
    ScratchDir dir;
    dir.write("C.DAT", "5\n5\n5\n");
    std::vector<std::string> args = {"C.DAT", "-A", "-K2", "-Q1"};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    RunResult r = run_kmeans(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;

    std::string want = "Adaptive K-means algorithm.\n";
    for (std::size_t i = 0; i < c.alphas.size(); ++i)
        want += akm_header(static_cast<int>(i) + 1, c.alphas[i]) + isolated(2);
    want += "\n";  // the line end that closes the data file
    EXPECT_EQ(from(r.err, "Adaptive K-means algorithm.\n"), want);
    EXPECT_EQ(dir.read("C.KMC"), "-1        \n" + cell("5") + "\n");
    EXPECT_EQ(dir.read("C.KTF"), "1\n1\n1\n");
}

INSTANTIATE_TEST_SUITE_P(
    Schedules, AdaptiveAkmRate,
    ::testing::Values(
        // 0.5, 0.5*0.75 = 0.375, 0.375*0.75 = 0.28125, 0.2109375 (six digits: 0.210938)
        RateCase{"Defaults", {"-R4"}, {"0.5", "0.375", "0.28125", "0.210938"}},
        RateCase{"ItParamOne", {"-R3", "-F1"}, {"0.5", "0.5", "0.5"}},
        RateCase{"ItParamTwoDoubles", {"-R4", "-F2"}, {"0.5", "1", "2", "4"}},
        RateCase{"GivenRate", {"-R3", "-G0.8", "-F0.5"}, {"0.8", "0.4", "0.2"}}),
    [](const ::testing::TestParamInfo<RateCase>& i) { return i.param.name; });

// Quiet level 0: every pass restarts the spinner at its first character and
// turns it at rows 0 and 64. 70 constant rows, two passes. The assignment
// pass goes on from the learning ('|', '/'), the final pass restarts ('-',
// '\'). The second data file starts again at the rate of switch G.
TEST(AdaptiveAkm, SpinnerRestartsEachPassAndRateEachFile) {
    ScratchDir dir;
    std::string data;
    for (int i = 0; i < 70; ++i) data += "5\n";
    dir.write("C.DAT", data);
    dir.write("D.DAT", data);
    RunResult r = run_kmeans(dir, {"C.DAT", "D.DAT", "-A", "-K2", "-R2"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string block = std::string("Adaptive K-means algorithm.\n") + akm_header(1, "0.5") + "\b-\b\\" +
                              isolated(2) + akm_header(2, "0.375") + "\b-\b\\" + isolated(2) + "\n \b|\b/" +
                              "\b-\b\\" + "\n";
    std::string first = from(r.err, "Adaptive K-means algorithm.\n");
    EXPECT_EQ(first.substr(0, block.size()), block);
    std::string second = from(first.substr(1), "Adaptive K-means algorithm.\n");
    EXPECT_EQ(second.substr(0, block.size()), block);
}

// A clock time whose first draw is 0 and second 22985: with one variable
// ranging over 0..1000 and K = 2 the first random centre is exactly 0 and the
// second 22985 * c * 1000, about 701.47 (c = the float with bits 0x38000100).
constexpr std::uint32_t zero_draw_time = 1767236231u;

// The second random centre after the row 1000 pulled it with rate `alpha`.
std::string second_centre_after_pull(double alpha) {
    const double c = std::bit_cast<float>(std::uint32_t{0x38000100u});
    float start = static_cast<float>(22985.0 * c * 1000.0 + 0.0);
    float moved = static_cast<float>(static_cast<double>(start) + alpha * (1000.0 - static_cast<double>(start)));
    char text[64];
    std::snprintf(text, sizeof text, "%.6G", static_cast<double>(moved));
    return text;
}

struct PullCase {
    std::string name;
    std::string data;                 // rows after "0\n1000\n"
    std::vector<std::string> switches;
    std::string first_centre;         // %-12.6G text of centre 1
    double alpha_at_1000;             // the rate with which row 1000 last pulled centre 2
    std::string ktf;
};

std::ostream& operator<<(std::ostream& o, const PullCase& c) { return o << c.name; }

class AdaptiveAkmPull : public ::testing::TestWithParam<PullCase> {};

// The row 0 lies on centre 1 (distance 0, no move) and the row 1000 pulls
// centre 2; every later row, near 0, wins centre 1.
TEST_P(AdaptiveAkmPull, WinnerMovesTowardsEachRowAtOnce) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    ASSERT_EQ(draws(zero_draw_time, 2), (std::vector<int>{0, 22985}));
    const PullCase& c = GetParam();
    ScratchDir dir;
    dir.write("P.DAT", "0\n1000\n" + c.data);
    std::vector<std::string> args = {"P.DAT", "-A", "-K2", "-Q3"};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    RunResult r = run_kmeans(dir, args, frozen_at(zero_draw_time));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("P.KMC"),
              "-1        \n" + cell(c.first_centre) + "\n" + cell(second_centre_after_pull(c.alpha_at_1000)) + "\n");
    EXPECT_EQ(dir.read("P.KTF"), c.ktf);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AdaptiveAkmPull,
    ::testing::Values(
        // 0 + 0.5 * (10 - 0) = 5
        PullCase{"OneRowHalfway", "10\n", {"-R1"}, "5", 0.5, "1\n2\n1\n"},
        // 5 + 0.5 * (10 - 5) = 7.5: the second row sees the moved centre
        PullCase{"SecondRowSeesMovedCentre", "10\n10\n", {"-R1"}, "7.5", 0.5, "1\n2\n1\n1\n"},
        // Alpha 1: the centre jumps onto the row (and centre 2 onto 1000)
        PullCase{"AlphaOneJumps", "10\n", {"-R1", "-G1"}, "10", 1.0, "1\n2\n1\n"},
        // Alpha 1.5: 0 + 1.5 * 10 = 15, past the row
        PullCase{"AlphaAboveOneOvershoots", "10\n", {"-R1", "-G1.5"}, "15", 1.5, "1\n2\n1\n"},
        // 10 then 20: 0 -> 5 -> 12.5
        PullCase{"OrderTenTwenty", "10\n20\n", {"-R1"}, "12.5", 0.5, "1\n2\n1\n1\n"},
        // 20 then 10: 0 -> 10 -> 10; the same rows in another order
        PullCase{"OrderTwentyTen", "20\n10\n", {"-R1"}, "10", 0.5, "1\n2\n1\n1\n"},
        // -F2: pass 1 at 0.5 gives 5, pass 2 at 1 sends centre 1 to 0 (row 0)
        // and then onto 10 (row 10), and centre 2 onto 1000
        PullCase{"ItParamTwoSecondPassJumps", "10\n", {"-R2", "-F2"}, "10", 1.0, "1\n2\n1\n"}),
    [](const ::testing::TestParamInfo<PullCase>& i) { return i.param.name; });

TEST(AdaptiveAkm, DebugListingAfterEachPass) {
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed";
    ScratchDir dir;
    dir.write("P.DAT", "0\n1000\n10\n10\n");
    RunResult r = run_kmeans(dir, {"P.DAT", "-A", "-K2", "-R1", "-Q3", "-D2"}, frozen_at(zero_draw_time));
    ASSERT_EQ(r.status, 0) << r.err;
    // Rows 0, 10, 10 won centre 1 (now 7.5), row 1000 centre 2.
    std::string listing = "\nAntal:3 k[0][0]=" + cell("7.5") + "\nAntal:1 k[1][0]=" +
                          cell(second_centre_after_pull(0.5)) + "\n";
    EXPECT_NE(r.out.find(listing), std::string::npos) << r.out;
}

// ---------------------------------------------------------------------------
// AKMDI (switch I)

// MaxDist 1E30: row 0 opens slot 0 (no slot in use); row 8 lies 8 from it
// and updates it. Pass 1 (Alpha 0.5): 0 -> 0, 8 -> 4. Pass 2 (Alpha 0.375):
// 0 -> 4 - 1.5 = 2.5, 8 -> 2.5 + 0.375 * 5.5 = 4.5625.
TEST(AdaptiveAkmdi, HugeMaxDistOpensOnlyClusterOne) {
    ScratchDir dir;
    dir.write("H.DAT", "0\n8\n");
    RunResult r = run_kmeans(dir, {"H.DAT", "-I", "-K3", "-M1E30", "-R2", "-Q1"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string want = "Given MaxDist:1E+030    \n"
                       "Adaptive K-means algorithm with dynamic initialization.\n" +
                       akmdi_header(1, "0.5") + isolated(2) + isolated(3) + akmdi_header(2, "0.375") + isolated(2) +
                       isolated(3) + "\n";
    EXPECT_EQ(from(r.err, "Given MaxDist:"), want);
    EXPECT_EQ(dir.read("H.KMC"), "1E+030    \n" + cell("4.5625") + "\n");
    EXPECT_EQ(dir.read("H.KTF"), "1\n1\n");
}

// MaxDist 0.5, K 3, rows 0 10 20 30 5. Pass 1: 0, 10 and 20 each lie more
// than 0.5 from every slot in use and open slots 0, 1, 2 in turn (slot 2 is
// the last: the flag is set); 30 lies 10 from slot 2 but cannot open and
// moves it to 25; 5 is 5 from slots 0 and 1, the tie goes to slot 0: 2.5.
TEST(AdaptiveAkmdi, TinyMaxDistOpensSlotsInOrder) {
    ScratchDir dir;
    dir.write("T.DAT", "0\n10\n20\n30\n5\n");
    RunResult r = run_kmeans(dir, {"T.DAT", "-I", "-K3", "-M0.5", "-R1", "-Q3", "-D2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("VARNING"), std::string::npos);
    // The listing after the pass: slot 0 has rows 0 and 5, slot 1 row 10,
    // slot 2 rows 20 and 30.
    std::string listing = "\nCounts:2      k[0][0]=" + cell("2.5") + "\nCounts:1      k[1][0]=" + cell("10") +
                          "\nCounts:2      k[2][0]=" + cell("25") + "\n";
    EXPECT_NE(r.out.find(listing), std::string::npos) << r.out;
    // Final assignment: 0 and 5 nearest 2.5, 10 on 10, 20 and 30 nearest 25.
    EXPECT_EQ(dir.read("T.KTF"), "1\n2\n3\n3\n1\n");
    std::string kmc = dir.read("T.KMC");
    EXPECT_NE(kmc.find("MaxDist:0.5       \n"
                       "Counts=2      k[0][0]=" + cell("2.5") + "\n"
                       "Counts=1      k[1][0]=" + cell("10") + "\n"
                       "Counts=2      k[2][0]=" + cell("25") + "\n"),
              std::string::npos)
        << kmc;
}

// The same data at quiet level 0 and two passes: the display shows 000
// before the first row opens a slot and 003 after the pass; in pass 2 the
// flag stops every opening although rows 0, 20, 30 and 5 lie more than 0.5
// from every centre, so the number stays 003 and no slot is added.
TEST(AdaptiveAkmdi, LastSlotFlagStopsOpenings) {
    ScratchDir dir;
    dir.write("T.DAT", "0\n10\n20\n30\n5\n");
    RunResult r = run_kmeans(dir, {"T.DAT", "-I", "-K3", "-M0.5", "-R2"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string want = "Adaptive K-means algorithm with dynamic initialization.\n" + akmdi_header(1, "0.5") +
                       opened("000", '-') + opened("003", '\\') + akmdi_header(2, "0.375") + opened("003", '-') +
                       opened("003", '\\') + "\n \b";
    std::string seen = from(r.err, "Adaptive K-means algorithm with dynamic initialization.\n");
    EXPECT_EQ(seen.substr(0, want.size()), want);
    // Three centre lines after the MaxDist line, and no slot beyond 3.
    EXPECT_EQ(count_of(dir.read("T.KMC"), "\n"), 4u);
    EXPECT_EQ(dir.read("T.KTF").find('4'), std::string::npos);
}

// K 4, MaxDist 5, Alpha 3, rows 0 10 14, three passes, two files.
// Pass 1 (Alpha 3): 0 opens slot 0; 10 (10 from slot 0) opens slot 1; 14 is
//   4 from slot 1 and moves it to 10 + 3 * 4 = 22. Slots 3 and 4 isolated.
// Pass 2 (Alpha 2.25): 0 stays on slot 0; 10 is 10 from slot 0 and 12 from
//   slot 1, more than 5: it opens slot 2 (= 10); 14 moves slot 2 to
//   10 + 2.25 * 4 = 19. Slot 1 (cluster 2) won no row: isolated and free.
// Pass 3 (Alpha 1.6875): 10 is 10 from slot 0 and 9 from slot 2: it opens
//   the lowest free slot, 1, again, and the opened number drops from 3 to 2;
//   14 moves slot 1 to 10 + 1.6875 * 4 = 16.75. Slot 2 (cluster 3) isolated.
// Final assignment: 0 -> 0; 10 and 14 are nearer 16.75 than 19.
TEST(AdaptiveAkmdi, EmptiedSlotIsReusedAndOpenedNumberDrops) {
    ScratchDir dir;
    dir.write("R.DAT", "0\n10\n14\n");
    dir.write("S.DAT", "0\n10\n14\n");
    RunResult r = run_kmeans(dir, {"R.DAT", "S.DAT", "-I", "-K4", "-M5", "-G3", "-R3"});
    ASSERT_EQ(r.status, 0) << r.err;

    // Each pass: the display at row 0 (spinner '-', which advances it) and at
    // the end of the pass (next character '\', no advance). The assignment
    // pass goes on with the spinner ('\'), the final pass restarts it ('-').
    auto file_block = [](const char* first_display) {
        return std::string("Given MaxDist:5         \n") +
               "Adaptive K-means algorithm with dynamic initialization.\n" + akmdi_header(1, "3") +
               opened(first_display, '-') + opened("002", '\\') + isolated(3) + isolated(4) +
               akmdi_header(2, "2.25") + opened("002", '-') + opened("003", '\\') + isolated(2) + isolated(4) +
               akmdi_header(3, "1.6875") + opened("003", '-') + opened("002", '\\') + isolated(3) + isolated(4) +
               "\n \b\\\b-\n";
    };
    std::string first = from(r.err, "Given MaxDist:");
    std::size_t second_at = first.find("\nWorking on file: S.DAT");
    ASSERT_NE(second_at, std::string::npos) << r.err;
    EXPECT_EQ(first.substr(0, second_at), file_block("000"));
    // The second file's first display, before its first row opens slot 0,
    // shows the number the first file opened last.
    std::string second = from(first.substr(second_at), "Given MaxDist:");
    std::string want_second = file_block("002");
    EXPECT_EQ(second.substr(0, want_second.size()), want_second);

    for (const char* kmc : {"R.KMC", "S.KMC"}) EXPECT_EQ(dir.read(kmc), "5         \n" + cell("0") + "\n" + cell("16.75") + "\n");
    for (const char* ktf : {"R.KTF", "S.KTF"}) EXPECT_EQ(dir.read(ktf), "1\n2\n2\n");
}

struct AtMaxDistCase {
    std::string name;
    std::string data;
    std::vector<std::string> switches;
    std::string kmc;
    std::string ktf;
};

std::ostream& operator<<(std::ostream& o, const AtMaxDistCase& c) { return o << c.name; }

class AdaptiveAkmdiAtMaxDist : public ::testing::TestWithParam<AtMaxDistCase> {};

TEST_P(AdaptiveAkmdiAtMaxDist, OnlyARowBeyondMaxDistOpens) {
    const AtMaxDistCase& c = GetParam();
    ScratchDir dir;
    dir.write("M.DAT", c.data);
    std::vector<std::string> args = {"M.DAT", "-I", "-K2", "-M2", "-R1", "-Q3"};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    RunResult r = run_kmeans(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("M.KMC"), c.kmc);
    EXPECT_EQ(dir.read("M.KTF"), c.ktf);
}

INSTANTIATE_TEST_SUITE_P(
    Distances, AdaptiveAkmdiAtMaxDist,
    ::testing::Values(
        // 2 lies exactly 2 from slot 0: no opening, slot 0 moves to 1
        AtMaxDistCase{"EuclideanExactlyAt", "0\n2\n", {}, "2         \n" + cell("1") + "\n", "1\n1\n"},
        // 2.0001 lies just beyond: it opens slot 1 with its own value
        AtMaxDistCase{"EuclideanJustBeyond", "0\n2.0001\n", {}, "2         \n" + cell("0") + "\n" + cell("2.0001") + "\n",
                      "1\n2\n"},
        // Two variables, Euclidean: (2, 0) lies exactly 2 from (0, 0)
        AtMaxDistCase{"EuclideanTwoVariables", "0 0\n2 0\n", {}, "2         \n" + cell("1") + cell("0") + "\n",
                      "1\n1\n"},
        // Cityblock: (1, 1) lies exactly 2 from (0, 0)
        AtMaxDistCase{"CityblockExactlyAt", "0 0\n1 1\n", {"-B"}, "2         \n" + cell("0.5") + cell("0.5") + "\n",
                      "1\n1\n"},
        // Cityblock: (1, 1.5) lies 2.5 away and opens; Euclidean it is 1.8 away
        AtMaxDistCase{"CityblockBeyond", "0 0\n1 1.5\n", {"-B"},
                      "2         \n" + cell("0") + cell("0") + "\n" + cell("1") + cell("1.5") + "\n", "1\n2\n"},
        AtMaxDistCase{"EuclideanWithin", "0 0\n1 1.5\n", {}, "2         \n" + cell("0.5") + cell("0.75") + "\n",
                      "1\n1\n"}),
    [](const ::testing::TestParamInfo<AtMaxDistCase>& i) { return i.param.name; });

// Constant data: the estimated MaxDist is 0; the first row opens slot 0 and
// every other row lies at distance 0, not beyond 0, so it updates slot 0
// without moving it. 130 rows show the display every 120 rows and the plain
// spinner at the other multiples of 64: r 0 display '-', r 64 '\', r 120
// display '|', r 128 '/', and at the end of the pass the display with '-'.
TEST(AdaptiveAkmdi, ConstantDataEstimatesZero) {
    ScratchDir dir;
    std::string data;
    for (int i = 0; i < 130; ++i) data += "7\n";
    dir.write("K.DAT", data);
    RunResult r = run_kmeans(dir, {"K.DAT", "-I", "-K3", "-R1"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string want = "Estimated MaxDist:0         \n"
                       "Adaptive K-means algorithm with dynamic initialization.\n" +
                       akmdi_header(1, "0.5") + opened("000", '-') + "\b\\" + opened("001", '|') + "\b/" +
                       opened("001", '-') + isolated(2) + isolated(3) + "\n \b";
    std::string seen = from(r.err, "Estimated MaxDist:");
    EXPECT_EQ(seen.substr(0, want.size()), want);
    EXPECT_EQ(dir.read("K.KMC"), "0         \n" + cell("7") + "\n");
    std::string ktf;
    for (int i = 0; i < 130; ++i) ktf += "1\n";
    EXPECT_EQ(dir.read("K.KTF"), ktf);
}

// A MaxDist that no distance can exceed (3.4E38, near the largest float; an
// infinite one such as 1E39 is refused by the switch check). No row lies
// beyond it, but the first row, with no slot in use, still opens slot 0; 5
// and 10 then move it: 0 -> 2.5 -> 6.25.
TEST(AdaptiveAkmdi, InfiniteMaxDistStillGivesEveryRowASlot) {
    ScratchDir dir;
    dir.write("I.DAT", "0\n5\n10\n");
    RunResult r = run_kmeans(dir, {"I.DAT", "-I", "-K3", "-M3.4E38", "-R1", "-Q1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Given MaxDist:"), std::string::npos);
    std::string kmc = dir.read("I.KMC");
    std::size_t first_line_end = kmc.find('\n');
    ASSERT_NE(first_line_end, std::string::npos);
    EXPECT_EQ(kmc.substr(first_line_end + 1), cell("6.25") + "\n");
    EXPECT_EQ(dir.read("I.KTF"), "1\n1\n1\n");
}

// Distances that overflow single precision. MaxDist 1, K 2: -3E38 opens
// slot 0; 3E38 lies at an infinite distance, which is no winner, and opens
// slot 1 (the flag is set); 0 lies at an infinite distance from both slots
// and cannot open: it takes the lowest slot in use, 0, and moves it to
// -3E38 + 0.5 * 3E38 = -1.5E38. The final pass finds no finite distance for
// -3E38 and 0 either and gives them cluster 1.
TEST(AdaptiveAkmdi, OverflowingDistancesKeepValidSlots) {
    ScratchDir dir;
    dir.write("O.DAT", "-3E38\n3E38\n0\n");
    RunResult r = run_kmeans(dir, {"O.DAT", "-I", "-K2", "-M1", "-R1", "-Q3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("O.KMC"), "1         \n" + cell("-1.5E+038") + "\n" + cell("3E+038") + "\n");
    EXPECT_EQ(dir.read("O.KTF"), "1\n2\n1\n");

    // Without switch M the estimate overflows as well: an infinite MaxDist,
    // which no centre file may hold, so the run stops without results.
    ScratchDir dir2;
    dir2.write("O.DAT", "-3E38\n3E38\n");
    RunResult r2 = run_kmeans(dir2, {"O.DAT", "-I", "-K2", "-R1", "-Q1"});
    ASSERT_EQ(r2.status, 5) << r2.err;
    EXPECT_NE(r2.err.find("Estimated MaxDist:INF"), std::string::npos);
    EXPECT_EQ(dir2.entries(), std::vector<std::string>{"O.DAT"});
}

// ---------------------------------------------------------------------------
// Overlap count (switch D)

// Rows 100 and 104 open the two slots (MaxDist 1, K 2); the third row pulls
// its winner by at most 0.000001 * 2, less than half a unit in the last place
// at 100 (3.8E-6), so the centres stay at 100 and 104: mdist 4, threshold 2.
struct OverlapCase {
    std::string name;
    std::string third_row;
    bool cityblock;
    int overlaps;
    std::string centre_lines;  // the centre file's count and centre lines
    std::string ktf;
};

std::ostream& operator<<(std::ostream& o, const OverlapCase& c) { return o << c.name; }

const std::string near_lower = "Counts=2      " + cell("100") + "\nCounts=1      " + cell("104") + "\n";
const std::string near_upper = "Counts=1      " + cell("100") + "\nCounts=2      " + cell("104") + "\n";

class AdaptiveOverlapThreshold : public ::testing::TestWithParam<OverlapCase> {};

TEST_P(AdaptiveOverlapThreshold, DistanceEqualToHalfMeanCounts) {
    const OverlapCase& c = GetParam();
    ScratchDir dir;
    dir.write("V.DAT", "100\n104\n" + c.third_row + "\n");
    std::vector<std::string> args = {"V.DAT", "-I", "-K2", "-M1", "-R1", "-G0.000001", "-Q3", "-D1"};
    if (c.cityblock) args.push_back("-B");
    RunResult r = run_kmeans(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string count = "No.of overlaps (at mdist/2): " + std::to_string(c.overlaps) + "\n";
    EXPECT_NE(r.out.find("mdist:" + pad("4", 12) + " nr:" + pad("2", 5) + " totd:" + pad("8", 12) + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\n" + count), std::string::npos) << r.out;
    std::string kmc = dir.read("V.KMC");
    ASSERT_GE(kmc.size(), count.size());
    EXPECT_EQ(kmc.substr(kmc.size() - count.size()), count);
    EXPECT_NE(kmc.find("MaxDist:1         \n" + c.centre_lines + count), std::string::npos) << kmc;
    EXPECT_EQ(dir.read("V.KTF"), c.ktf);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AdaptiveOverlapThreshold,
    ::testing::Values(
        // 102: 2 from both centres, its own is the lower one, and it lies
        // exactly at the threshold from the other
        OverlapCase{"AtThresholdEuclidean", "102", false, 1, near_lower, "1\n2\n1\n"},
        OverlapCase{"AtThresholdCityblock", "102", true, 1, near_lower, "1\n2\n1\n"},
        // 102.0001 (102.0000992 in single precision): its own centre is 104,
        // and 100 lies 2.0000992 away, beyond the threshold
        OverlapCase{"JustBeyondEuclidean", "102.0001", false, 0, near_upper, "1\n2\n2\n"},
        OverlapCase{"JustBeyondCityblock", "102.0001", true, 0, near_upper, "1\n2\n2\n"}),
    [](const ::testing::TestParamInfo<OverlapCase>& i) { return i.param.name; });

// Five rows that each open a slot (MaxDist 0.5, K 5) and so are the centres:
// (0,0), (1,0), (-1,0), (0,1), (0,-3.5). No row moves a centre. The threshold
// lies between 1 and sqrt(2), so the overlapping pairs are the three centres
// at distance 1 around (0,0): the row (0,0) adds 3, each of the three others
// adds 1 (for (0,0)), the far row 0. An extra row (0,0) adds 3 more.
TEST(AdaptiveOverlap, RowNearThreeOtherCentresAddsThree) {
    const double pts[5][2] = {{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -3.5}};
    double total = 0;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            if (i != j) total += std::hypot(pts[i][0] - pts[j][0], pts[i][1] - pts[j][1]);
    double threshold = total / 20 / 2;
    ASSERT_GE(threshold, 1.0);
    ASSERT_LT(threshold, std::sqrt(2.0));

    const std::string rows = "0 0\n1 0\n-1 0\n0 1\n0 -3.5\n";
    for (auto [extra, want] : {std::pair<std::string, int>{"", 6}, {"0 0\n", 9}}) {
        ScratchDir dir;
        dir.write("W.DAT", rows + extra);
        RunResult r = run_kmeans(dir, {"W.DAT", "-I", "-K5", "-M0.5", "-R1", "-Q3", "-D1"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::string count = "No.of overlaps (at mdist/2): " + std::to_string(want) + "\n";
        EXPECT_NE(r.out.find("\n" + count), std::string::npos) << r.out;
        std::string kmc = dir.read("W.KMC");
        EXPECT_EQ(kmc.substr(kmc.size() - std::min(kmc.size(), count.size())), count);
        EXPECT_EQ(dir.read("W.KTF"), extra.empty() ? "1\n2\n3\n4\n5\n" : "1\n2\n3\n4\n5\n1\n");
    }
}

// One used cluster: no pairs, mdist 0/0 (not a number), and no overlap,
// since the one cluster is every row's own. 1 opens slot 0, 3 moves it to 2.
TEST(AdaptiveOverlap, SingleUsedClusterCountsNone) {
    ScratchDir dir;
    dir.write("N.DAT", "1\n3\n");
    RunResult r = run_kmeans(dir, {"N.DAT", "-I", "-K2", "-M1E30", "-R1", "-Q3", "-D1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nCompute meandistance.\nmdist:NAN          nr:0     totd:0           \n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Counts in cluster1  :      2\n\nNo.of overlaps (at mdist/2): 0\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(dir.read("N.KMC"),
              "mdist:NAN          no:0     totd:0           \n"
              "MaxDist:1E+030    \n"
              "Counts=2      " + cell("2") + "\n"
              "No.of overlaps (at mdist/2): 0\n");
    EXPECT_EQ(dir.read("N.KTF"), "1\n1\n");
}

// The overlap announcement goes to stderr whatever the quiet level; at quiet
// level 3 the file's closing line end is not written, so it ends stderr.
TEST(AdaptiveOverlap, AnnouncedEvenAtQuietThree) {
    ScratchDir dir;
    dir.write("N.DAT", "1\n3\n");
    RunResult r = run_kmeans(dir, {"N.DAT", "-I", "-K2", "-M1000", "-R1", "-Q3", "-D1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "\nCompute custervalues:  Writing clustervaluefile:  \nCompute overlap:  ");
}

// Without switch D the overlap pass does not run: no console line, no file line.
TEST(AdaptiveOverlap, NotCountedWithoutDebug) {
    ScratchDir dir;
    dir.write("N.DAT", "1\n3\n");
    RunResult r = run_kmeans(dir, {"N.DAT", "-I", "-K2", "-M1000", "-R1", "-Q1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Compute overlap"), std::string::npos);
    EXPECT_EQ(r.out.find("overlaps"), std::string::npos);
    EXPECT_EQ(dir.read("N.KMC"), "1000      \n" + cell("2") + "\n");
}

// ---------------------------------------------------------------------------
// Quiet levels

struct QuietCase {
    std::string name;
    std::string data;
    std::vector<std::string> switches;
    std::string warnings;  // what quiet level 2 leaves of the algorithm's output
};

std::ostream& operator<<(std::ostream& o, const QuietCase& c) { return o << c.name; }

class AdaptiveQuiet : public ::testing::TestWithParam<QuietCase> {};

TEST_P(AdaptiveQuiet, LevelTwoKeepsOnlyWarningsLevelThreeNothing) {
    const QuietCase& c = GetParam();
    for (const char* level : {"-Q2", "-Q3"}) {
        ScratchDir dir;
        dir.write("Q.DAT", c.data);
        std::vector<std::string> args = {"Q.DAT", level};
        args.insert(args.end(), c.switches.begin(), c.switches.end());
        RunResult r = run_kmeans(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        if (std::string(level) == "-Q2") EXPECT_EQ(after_working_line(r.err, "Q.DAT"), c.warnings + "\n");
        else EXPECT_EQ(r.err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Algorithms, AdaptiveQuiet,
    ::testing::Values(
        // Constant data: cluster 2 wins no row in either pass
        QuietCase{"Akm", "5\n5\n5\n", {"-A", "-K2", "-R2"}, isolated(2) + isolated(2)},
        // The reuse run of EmptiedSlotIsReusedAndOpenedNumberDrops
        QuietCase{"Akmdi", "0\n10\n14\n", {"-I", "-K4", "-M5", "-G3", "-R3"},
                  isolated(3) + isolated(4) + isolated(2) + isolated(4) + isolated(3) + isolated(4)}),
    [](const ::testing::TestParamInfo<QuietCase>& i) { return i.param.name; });

}  // namespace
