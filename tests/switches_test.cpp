// Unit tests of the command-line layer: upper-casing, the switch readers,
// unknown switch characters, the ordered switch checks with their refusal
// texts, the argument walk, the environment value and wildcard expansion.
#include "cli/switches.h"
#include "cli/wildcard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "e2e.h"

using namespace kmeans;

namespace {

namespace fs = std::filesystem;

std::string unknown_line(char c) {
    return std::string("INFO: Unknown character in switch/environment: \"") + c + "\"\n";
}

// ---------------------------------------------------------------- upcase

struct UpcaseCase {
    std::string in;
    std::string out;
};

TEST(SwitchesUpcase, Table) {
    const UpcaseCase cases[] = {
        {"", ""},
        {"abcxyz", "ABCXYZ"},
        {"k3r6g0.3", "K3R6G0.3"},
        {"ABC-123./?*", "ABC-123./?*"},
        // The neighbours of 'a' and 'z' stay: '`' (0x60) and '{' (0x7B).
        {"`{@[", "`{@["},
        // The three code page 437 lower-case letters and their capitals.
        {"\x84\x86\x94", "\x8E\x8F\x99"},
        {"x\x84y\x86z\x94", "X\x8EY\x8FZ\x99"},
        // Capitals and other high bytes stay as they are.
        {"\x8E\x8F\x99\x81\x82\x83\x85\x87\x91\xE4\xF6\xFF", "\x8E\x8F\x99\x81\x82\x83\x85\x87\x91\xE4\xF6\xFF"},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        upcase(s);
        EXPECT_EQ(s, c.out) << "input: " << c.in;
    }
}

TEST(SwitchesUpcase, EveryByteOutsideTheMappedOnesStays) {
    for (int b = 1; b < 256; ++b) {
        std::string s(1, static_cast<char>(b));
        upcase(s);
        unsigned char got = static_cast<unsigned char>(s[0]);
        unsigned char want = static_cast<unsigned char>(b);
        if (b >= 'a' && b <= 'z') want = static_cast<unsigned char>(b - 32);
        if (b == 0x84) want = 0x8E;
        if (b == 0x86) want = 0x8F;
        if (b == 0x94) want = 0x99;
        EXPECT_EQ(got, want) << "byte " << b;
    }
}

// ---------------------------------------------------------------- switch readers

struct LevelCase {
    std::string sw;
    char letter;
    int level;
};

TEST(SwitchesLevel, Table) {
    const LevelCase cases[] = {
        {"", 'Q', 0},
        {"K3", 'Q', 0},
        {"Q", 'Q', 1},
        {"Q0", 'Q', 1},
        {"Q1", 'Q', 1},
        {"Q2", 'Q', 2},
        {"Q3", 'Q', 3},
        {"Q-", 'Q', 0},
        {"Q-3", 'Q', 0},
        {"D", 'D', 1},
        {"D0", 'D', 1},
        {"D2", 'D', 2},
        {"D-", 'D', 0},
        {"U", 'U', 1},
        {"U0", 'U', 1},
        {"U2", 'U', 2},
        {"U-", 'U', 0},
        {"QK3", 'Q', 1},         // no digits after the letter: 1
        {"Q12K3", 'Q', 12},
        // The first occurrence wins, also when it is the '-' form.
        {"Q2Q3", 'Q', 2},
        {"Q-Q3", 'Q', 0},
        {"A-A", 'A', 0},
        {"AA-", 'A', 1},
        {"A-R6", 'A', 0},        // -A-R6: A is off
        {"A-K8", 'A', 0},        // command line A, environment -K8
        {"AB", 'A', 1},
        {"AB", 'B', 1},
        {"B-", 'B', 0},
        {"I", 'I', 1},
        {"I-", 'I', 0},
        {"D99999999999", 'D', INT_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(switch_level(c.sw, c.letter), c.level) << c.sw << " letter " << c.letter;
    }
}

struct IntCase {
    std::string sw;
    char letter;
    int value;
};

TEST(SwitchesInt, Table) {
    const IntCase cases[] = {
        {"", 'R', 0},
        {"R", 'R', 0},           // "R" alone reads 0
        {"R6", 'R', 6},
        {"R-2", 'R', -2},        // for number switches '-' is a sign
        {"R+7", 'R', 7},
        {"R-", 'R', 0},
        {"R6K3", 'R', 6},
        {"R6K3", 'K', 3},
        {"K3K5", 'K', 3},        // first occurrence wins
        {"K3AK8", 'K', 3},
        {"AK8", 'K', 8},
        {"K12.7", 'K', 12},      // digits up to the first other character
        {"K0768", 'K', 768},
        {"KA5", 'K', 0},
        {"R2147483647", 'R', INT_MAX},
        {"R2147483648", 'R', INT_MAX},      // saturates
        {"R99999999999999999999", 'R', INT_MAX},
        {"R-2147483648", 'R', INT_MIN},
        {"R-99999999999999999999", 'R', INT_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(switch_int(c.sw, c.letter), c.value) << c.sw << " letter " << c.letter;
    }
}

struct FloatCase {
    std::string sw;
    char letter;
    double decimal;   // the value in double precision, rounded to float below
};

TEST(SwitchesFloat, Table) {
    const FloatCase cases[] = {
        {"", 'G', 0.0},
        {"G", 'G', 0.0},
        {"G0.3", 'G', 0.3},
        {"G.5", 'G', 0.5},
        {"G5.", 'G', 5.0},
        {"G-1", 'G', -1.0},
        {"G-.25", 'G', -0.25},
        {"G+2", 'G', 2.0},
        {"G1E-3", 'G', 0.001},
        {"G1E3", 'G', 1000.0},
        {"G1E+2", 'G', 100.0},
        {"G2.5E-1", 'G', 0.25},
        {"G1E", 'G', 1.0},       // an 'E' without digits is no exponent
        {"G1E-", 'G', 1.0},
        {"G1EX", 'G', 1.0},
        {"G0.1", 'G', 0.1},
        {"F2.5", 'F', 2.5},
        {"F0.75", 'F', 0.75},
        {"M12.5K3", 'M', 12.5},
        {"G0.3G0.9", 'G', 0.3},  // first occurrence wins
        {"G-", 'G', 0.0},
        {"G.", 'G', 0.0},
        {"G1E-50", 'G', 0.0},    // rounds to 0 in single precision
        // Only the decimal form is read: no infinity, NaN or hexadecimal.
        {"GINF", 'G', 0.0},
        {"GINFINITY", 'G', 0.0},
        {"GNAN", 'G', 0.0},
        {"G0X1P3", 'G', 0.0},
        {"G0X10", 'G', 0.0},
        {"G-INF", 'G', 0.0},
    };
    for (const auto& c : cases) {
        float got = switch_float(c.sw, c.letter);
        EXPECT_EQ(got, static_cast<float>(c.decimal)) << c.sw << " letter " << c.letter;
    }
    EXPECT_EQ(switch_float("G1E-3", 'G'), 0.001f);
}

TEST(SwitchesPresent, Table) {
    EXPECT_FALSE(switch_present("", 'T'));
    EXPECT_TRUE(switch_present("T", 'T'));
    EXPECT_TRUE(switch_present("T-", 'T'));
    EXPECT_TRUE(switch_present("K3T", 'T'));
    EXPECT_TRUE(switch_present("C0", 'C'));
    EXPECT_FALSE(switch_present("K3R6", 'C'));
}

// ---------------------------------------------------------------- unknown characters

struct UnknownCase {
    std::string sw;
    std::string reported;   // the characters reported, in order
};

TEST(SwitchesUnknown, Table) {
    const UnknownCase cases[] = {
        {"", ""},
        {"1234567890.UQFBRMAIDKGCT-", ""},
        {"G1E-3", "E"},
        {"S", "S"},
        {"N", "N"},
        {"SN", "SN"},
        {"?", "?"},
        {"K3XR6S", "XS"},
        {"EE", "EE"},           // one line per occurrence
        {"K 3", " "},
        {"/K3", "/"},
        {"+*", "+*"},
        {"\x8E", "\x8E"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> want;
        for (char ch : c.reported) want.push_back(unknown_line(ch));
        EXPECT_EQ(unknown_characters(c.sw), want) << c.sw;
    }
}

// ---------------------------------------------------------------- evaluate_switches

struct EvalCase {
    std::string sw;
    int status;
    std::string refusal;
};

TEST(SwitchesEvaluate, RefusalsAndAcceptance) {
    const std::string r = "PANIC: Number of iterationes must be greater than 0: Value=";
    const std::string k = "PANIC: Number of clusters must be between 2 och 768: Value=";
    const std::string f = "PANIC: The iteration parameter must be between 0 and 2: Value=";
    const std::string g = "PANIC: The learning rate parameter must be greater than 0: Value=";
    const std::string m = "PANIC: Maximum distance must be greater than 0: Value=";
    const EvalCase cases[] = {
        {"", 0, ""},
        {"R1", 0, ""},
        {"R99999999999", 0, ""},
        {"R", 4, r + "0\n"},
        {"R0", 4, r + "0\n"},
        {"R-2", 4, r + "-2\n"},
        {"R-99999999999", 4, r + "-2147483648\n"},
        {"K2", 0, ""},
        {"K768", 0, ""},
        {"K1", 4, k + "1\n"},
        {"K769", 4, k + "769\n"},
        {"K", 4, k + "0\n"},
        {"K-5", 4, k + "-5\n"},
        {"K99999999999", 4, k + "2147483647\n"},
        {"F2", 0, ""},
        {"F0.001", 0, ""},
        {"F0", 4, f + "0.000\n"},
        {"F", 4, f + "0.000\n"},
        {"F2.5", 4, f + "2.500\n"},
        {"F2.0001", 4, f + "2.000\n"},
        {"F-1", 4, f + "-1.000\n"},
        {"F1E39", 4, f + "INF\n"},
        {"G0.3", 0, ""},
        {"G1E-3", 0, ""},
        {"G", 4, g + "0.00000\n"},
        {"G0", 4, g + "0.00000\n"},
        {"G-1", 4, g + "-1.00000\n"},
        {"G1E-50", 4, g + "0.00000\n"},
        {"G0X1", 4, g + "0.00000\n"},
        {"G0X1P3", 4, g + "0.00000\n"},
        // Beyond the single-precision range: infinite, refused like any other.
        {"G1E39", 4, g + "INF\n"},
        {"M5", 0, ""},
        {"M0", 4, m + "0         \n"},
        {"M", 4, m + "0         \n"},
        {"M-1", 4, m + "-1        \n"},
        {"M-2.5", 4, m + "-2.5      \n"},
        {"M-0.00001", 4, m + "-1E-005   \n"},
        {"M-1234567", 4, m + "-1.235E+006\n"},
        {"M1E39", 4, m + "INF       \n"},
        {"M3.4E38", 0, ""},
        // The order R, K, F, G, M: only the first refusal is reported.
        {"R0K1", 4, r + "0\n"},
        {"K1R0", 4, r + "0\n"},
        {"M0G0F0K1R0", 4, r + "0\n"},
        {"M0G0F0K1", 4, k + "1\n"},
        {"M0G0F0", 4, f + "0.000\n"},
        {"M0G0", 4, g + "0.00000\n"},
        // A command-line value in front of a bad one from the environment.
        {"K3K1", 0, ""},
        {"K1K3", 4, k + "1\n"},
    };
    for (const auto& c : cases) {
        Params p;
        p.invocation.switches = c.sw;
        SwitchCheck check = evaluate_switches(p);
        EXPECT_EQ(check.status, c.status) << c.sw;
        EXPECT_EQ(check.refusal, c.refusal) << c.sw;
    }
}

TEST(SwitchesEvaluate, ValuesAndDefaults) {
    {
        Params p;
        SwitchCheck check = evaluate_switches(p);
        EXPECT_EQ(check.status, 0);
        EXPECT_TRUE(check.infos.empty());
        EXPECT_EQ(p.clustering.clusters, 5);
        EXPECT_EQ(p.clustering.iterations, 10);
        EXPECT_EQ(p.clustering.rate, 0.5f);
        EXPECT_EQ(p.clustering.rate_factor, 0.75f);
        EXPECT_EQ(p.clustering.max_dist, -1.0f);
        EXPECT_EQ(p.clustering.algorithm, SKM);
        EXPECT_FALSE(p.clustering.cityblock);
        EXPECT_EQ(p.levels.used, 0);
        EXPECT_EQ(p.levels.debug, 0);
    }
    {
        Params p;
        p.invocation.switches = "R6K3G0.3F1.5M2.25BU2D2";
        SwitchCheck check = evaluate_switches(p);
        EXPECT_EQ(check.status, 0);
        EXPECT_EQ(p.clustering.iterations, 6);
        EXPECT_EQ(p.clustering.clusters, 3);
        EXPECT_EQ(p.clustering.rate, 0.3f);
        EXPECT_EQ(p.clustering.rate_factor, 1.5f);
        EXPECT_EQ(p.clustering.max_dist, 2.25f);
        EXPECT_TRUE(p.clustering.cityblock);
        EXPECT_EQ(p.levels.used, 2);
        EXPECT_EQ(p.levels.debug, 2);
        EXPECT_EQ(p.clustering.algorithm, SKM);
    }
    {
        Params p;
        p.invocation.switches = "G1E-3";
        evaluate_switches(p);
        EXPECT_EQ(p.clustering.rate, 0.001f);
    }
}

struct TypeCase {
    std::string sw;
    int type;
    bool both_info;
};

TEST(SwitchesEvaluate, Algorithm) {
    const std::string both = "INFO: Both switch A (AKM) and I (AKMDI) given. Switch I have priority.\n";
    const TypeCase cases[] = {
        {"", SKM, false},
        {"A", AKM, false},
        {"A0", AKM, false},
        {"A-", SKM, false},
        {"A-A", SKM, false},
        {"A-K8", SKM, false},
        {"I", AKMDI, false},
        {"I-", SKM, false},
        {"AI", AKMDI, true},
        {"IA", AKMDI, true},
        {"A-I", AKMDI, false},
        {"AI-", AKM, false},
        {"AB", AKM, false},
    };
    for (const auto& c : cases) {
        Params p;
        p.invocation.switches = c.sw;
        SwitchCheck check = evaluate_switches(p);
        EXPECT_EQ(p.clustering.algorithm, c.type) << c.sw;
        std::vector<std::string> want;
        if (c.both_info) want.push_back(both);
        EXPECT_EQ(check.infos, want) << c.sw;
    }
}

TEST(SwitchesEvaluate, EarlierSwitchesAreSetBeforeARefusal) {
    Params p;
    p.invocation.switches = "D2BU3AIR0";
    SwitchCheck check = evaluate_switches(p);
    EXPECT_EQ(check.status, 4);
    EXPECT_EQ(p.levels.debug, 2);
    EXPECT_TRUE(p.clustering.cityblock);
    EXPECT_EQ(p.levels.used, 3);
    EXPECT_EQ(p.clustering.algorithm, AKMDI);
    ASSERT_EQ(check.infos.size(), 1u);
    EXPECT_EQ(check.refusal, "PANIC: Number of iterationes must be greater than 0: Value=0\n");
}

// ---------------------------------------------------------------- KMEANS_SEED

// The seed variable: decimal digits from 0 to 2^32 - 1, nothing else; a bad
// value is refused after the switches, and only when none was refused.
TEST(SwitchesSeed, ValuesAndRefusals) {
    const std::string bad = "PANIC: KMEANS_SEED must be a whole number from 0 to 4294967295: Value=";
    struct Case {
        const char* text;  // nullptr: the variable is not set
        std::string sw;
        std::optional<std::uint32_t> seed;
        std::string refusal;
    };
    const Case cases[] = {
        {nullptr, "", std::nullopt, ""},
        {"0", "", 0u, ""},
        {"1767225600", "", 1767225600u, ""},
        {"4294967295", "", 4294967295u, ""},
        {"007", "", 7u, ""},
        {"4294967296", "", std::nullopt, bad + "4294967296\n"},
        {"99999999999999999999999", "", std::nullopt, bad + "99999999999999999999999\n"},
        {"", "", std::nullopt, bad + "\n"},
        {"-1", "", std::nullopt, bad + "-1\n"},
        {"+1", "", std::nullopt, bad + "+1\n"},
        {" 1", "", std::nullopt, bad + " 1\n"},
        {"1 ", "", std::nullopt, bad + "1 \n"},
        {"1e3", "", std::nullopt, bad + "1e3\n"},
        {"0x10", "", std::nullopt, bad + "0x10\n"},
        {"12", "K1", std::nullopt, "PANIC: Number of clusters must be between 2 och 768: Value=1\n"},
        {"x", "M0", std::nullopt, "PANIC: Maximum distance must be greater than 0: Value=0         \n"},
        {"x", "K3", std::nullopt, bad + "x\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(not set)");
        Params p;
        p.invocation.switches = c.sw;
        SwitchCheck check = evaluate_switches(p);
        evaluate_seed(p, c.text, check);
        EXPECT_EQ(check.status, c.refusal.empty() ? 0 : 4);
        EXPECT_EQ(check.refusal, c.refusal);
        EXPECT_EQ(p.invocation.seed, c.seed);
    }
    const char* const env[] = {"KMEANS=K3", "KMEANS_SEEDX=1", "kmeans_seed=2", "KMEANS_SEED=3", nullptr};
    ASSERT_NE(environment_value(env, "KMEANS_SEED"), nullptr);
    EXPECT_STREQ(environment_value(env, "KMEANS_SEED"), "3");
    EXPECT_EQ(environment_value(env + 4, "KMEANS_SEED"), nullptr);
}

// ---------------------------------------------------------------- walk_args

TEST(SwitchesWalk, SwitchTextAndDataFiles) {
    Params p;
    ArgWalk w = walk_args(p, {"-k3", "data.dat", "/r6", "-A-", "Other.Txt", "-", "/tmp/x.dat", "-g0.3e-1"});
    EXPECT_FALSE(w.second_centre);
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(p.invocation.switches, "K3R6A-G0.3E-1");
    EXPECT_EQ(p.invocation.data_files, (std::vector<std::string>{"data.dat", "Other.Txt", "/tmp/x.dat"}));
    EXPECT_TRUE(p.invocation.centre_file.empty());
}

TEST(SwitchesWalk, SwitchTextUpperCased) {
    Params p;
    walk_args(p, {"-r6k3", "/q\x84"});
    EXPECT_EQ(p.invocation.switches, "R6K3Q\x8E");
}

struct CentreCase {
    std::vector<std::string> args;
    std::string centre;
    std::vector<std::string> data;
    std::vector<std::string> messages;
    bool second;
};

TEST(SwitchesWalk, CentreFileArguments) {
    const std::string lone = "INFO: No categorycenterfilename given after +.\n";
    const CentreCase cases[] = {
        {{"+CENT", "D.DAT"}, "CENT.KMC", {"D.DAT"}, {}, false},
        {{"+cent", "D.DAT"}, "cent.KMC", {"D.DAT"}, {}, false},
        {{"+cent.old"}, "cent.old", {}, {}, false},
        {{"+C.", "X"}, "C.", {"X"}, {}, false},
        {{"+", "D.DAT"}, "", {"D.DAT"}, {lone}, false},
        {{"D.DAT", "+", "+"}, "", {"D.DAT"}, {lone, lone}, false},
        {{"+", "+A", "D.DAT"}, "A.KMC", {"D.DAT"}, {lone}, false},
        {{"+A", "+B", "X"},
         "A.KMC",
         {},
         {"PANIC: Multiple categorycenterfilenames given: A B\n"},
         true},
        {{"D.DAT", "+a.old", "+b", "-K3", "E.DAT"},
         "a.old",
         {"D.DAT"},
         {"PANIC: Multiple categorycenterfilenames given: a.old b\n"},
         true},
        {{"+A", "+"}, "A.KMC", {}, {"PANIC: Multiple categorycenterfilenames given: A \n"}, true},
    };
    for (const auto& c : cases) {
        Params p;
        ArgWalk w = walk_args(p, c.args);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(p.invocation.centre_file, c.centre) << joined;
        EXPECT_EQ(p.invocation.data_files, c.data) << joined;
        EXPECT_EQ(w.messages, c.messages) << joined;
        EXPECT_EQ(w.second_centre, c.second) << joined;
    }
}

TEST(SwitchesWalk, StopsAtSecondCentreFile) {
    Params p;
    ArgWalk w = walk_args(p, {"-K3", "+A", "+B", "X.DAT", "-R6"});
    EXPECT_TRUE(w.second_centre);
    EXPECT_EQ(p.invocation.switches, "K3");   // -R6 after the stop is not read
    EXPECT_TRUE(p.invocation.data_files.empty());
}

TEST(SwitchesWalk, QuotedPatternIsExpanded) {
    ScratchDir dir;
    dir.write("one.dat", "1\n");
    dir.write("two.txt", "1\n");
    Params p;
    std::string pattern = dir.path.string() + "/*.DAT";
    walk_args(p, {"first", pattern, "last"});
    EXPECT_EQ(p.invocation.data_files,
              (std::vector<std::string>{"first", dir.path.string() + "/one.dat", "last"}));
}

// ---------------------------------------------------------------- append_environment

struct EnvCase {
    std::string progname;
    std::string switches;                  // before the environment
    std::vector<std::string> env;
    std::string env_value;
    std::string after;
};

TEST(SwitchesEnvironment, Table) {
    const EnvCase cases[] = {
        {"kmeans", "", {}, "", ""},
        {"kmeans", "K3", {"PATH=/bin"}, "", "K3"},
        {"kmeans", "", {"KMEANS=K8"}, "K8", "K8"},
        {"kmeans", "", {"kmeans=k8"}, "K8", "K8"},
        {"kmeans", "", {"KMeans=r6a"}, "R6A", "R6A"},
        {"kmeans", "K3", {"KMEANS=K8"}, "K8", "K3K8"},
        {"kmeans", "A", {"KMEANS=-K8"}, "-K8", "A-K8"},
        {"kmeans", "", {"KMEANSX=K8", "XKMEANS=K7", "KMEAN=K6"}, "", ""},
        {"kmeans", "", {"PATH=/bin", "KMEANS=", "HOME=/"}, "", ""},
        {"kmeans", "", {"KMEANS=G0.5=1"}, "G0.5=1", "G0.5=1"},
        {"clus", "D", {"KMEANS=K8", "CLUS=q3\x84"}, "Q3\x8E", "DQ3\x8E"},
        {"MyProg", "", {"myprog=k4"}, "K4", "K4"},
        // Two spellings of the name: the first entry wins, the second is never read.
        {"kmeans", "", {"kmeans=K3", "KMEANS=K4"}, "K3", "K3"},
        {"kmeans", "", {"KMEANS=", "kmeans=K4"}, "", ""},
    };
    for (const auto& c : cases) {
        Params p;
        p.invocation.program = c.progname;
        p.invocation.switches = c.switches;
        std::vector<const char*> envp;
        for (const auto& e : c.env) envp.push_back(e.c_str());
        envp.push_back(nullptr);
        append_environment(p, envp.data());
        EXPECT_EQ(p.invocation.env_value, c.env_value) << c.progname;
        EXPECT_EQ(p.invocation.switches, c.after) << c.progname;
    }
}

TEST(SwitchesEnvironment, CommandLineWinsOverEnvironment) {
    const char* env[] = {"KMEANS=K8A", nullptr};
    {
        Params p;
        p.invocation.program = "kmeans";
        walk_args(p, {"-K3", "D.DAT"});
        append_environment(p, env);
        evaluate_switches(p);
        EXPECT_EQ(p.clustering.clusters, 3);
        EXPECT_EQ(p.clustering.algorithm, AKM);
    }
    {
        Params p;
        p.invocation.program = "kmeans";
        walk_args(p, {"D.DAT", "-A-"});
        append_environment(p, env);
        evaluate_switches(p);
        EXPECT_EQ(p.clustering.clusters, 8);
        EXPECT_EQ(p.clustering.algorithm, SKM);
    }
}

TEST(SwitchesEnvironment, EnvironmentDashTurnsOffTrailingFlag) {
    const char* env[] = {"KMEANS=-K8", nullptr};
    Params p;
    p.invocation.program = "kmeans";
    walk_args(p, {"-A", "D.DAT"});
    append_environment(p, env);
    EXPECT_EQ(p.invocation.switches, "A-K8");
    evaluate_switches(p);
    EXPECT_EQ(p.clustering.algorithm, SKM);
    EXPECT_EQ(p.clustering.clusters, 8);
}

// ---------------------------------------------------------------- wildcards

struct MatchCase {
    const char* pattern;
    const char* name;
    bool match;
};

TEST(WildcardMatch, Table) {
    const MatchCase cases[] = {
        {"*", "", true},
        {"*", "abc", true},
        {"", "", true},
        {"", "a", false},
        {"?", "", false},
        {"?", "a", true},
        {"?", "ab", false},
        {"*.DAT", "a.dat", true},
        {"*.dat", "A.DAT", true},
        {"*.dat", "a.dat.old", false},
        {"*.dat", "a.dat.dat", true},
        {"*.dat", "dat", false},
        {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXbYY", false},
        {"a*b*c", "abcbc", true},
        {"*a*", "xyz", false},
        {"*a*", "xAz", true},
        {"D?TA.*", "data.txt", true},
        {"D?TA.*", "DTA.txt", false},
        {"**", "x", true},
        {"*?", "", false},
        {"*?", "x", true},
        {"x*", "x", true},
        {"*x", "ax", true},
        {"*x", "xa", false},
        {"f[1].dat", "F[1].DAT", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wildcard_match(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
    }
}

// The names the directory listing gives, in its order.
std::vector<std::string> listing(const fs::path& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
    return names;
}

void touch(const fs::path& p) { std::ofstream(p) << "1\n"; }

TEST(WildcardExpand, MatchesFilesOnlyInListingOrder) {
    ScratchDir dir;
    touch(dir.path / "a.dat");
    touch(dir.path / "B.DAT");
    touch(dir.path / "c.txt");
    touch(dir.path / ".hidden.dat");
    fs::create_directory(dir.path / "sub.dat");
    const std::string prefix = dir.path.string() + "/";

    std::vector<std::string> want;
    for (const std::string& n : listing(dir.path)) {
        if (n == "a.dat" || n == "B.DAT") want.push_back(prefix + n);
    }
    ASSERT_EQ(want.size(), 2u);
    EXPECT_EQ(expand_pattern(prefix + "*.dat"), want);
    EXPECT_EQ(expand_pattern(prefix + "*.DaT"), want);
    EXPECT_EQ(expand_pattern(prefix + "?.dat"), want);
    EXPECT_EQ(expand_pattern(prefix + "c.*"), std::vector<std::string>{prefix + "c.txt"});
}

TEST(WildcardExpand, NoMatchKeepsPattern) {
    ScratchDir dir;
    touch(dir.path / "a.dat");
    const std::string pattern = dir.path.string() + "/*.xyz";
    EXPECT_EQ(expand_pattern(pattern), std::vector<std::string>{pattern});
    const std::string missing_dir = dir.path.string() + "/nodir/*.dat";
    EXPECT_EQ(expand_pattern(missing_dir), std::vector<std::string>{missing_dir});
}

TEST(WildcardExpand, OnlyLeftOutMatchesDropsPattern) {
    ScratchDir dir;
    touch(dir.path / ".h.dat");
    fs::create_directory(dir.path / "d.dat");
    touch(dir.path / "x.txt");
    EXPECT_TRUE(expand_pattern(dir.path.string() + "/*.dat").empty());
}

TEST(WildcardExpand, DirectoryPrefixKept) {
    ScratchDir dir;
    fs::create_directory(dir.path / "Sub");
    touch(dir.path / "Sub" / "x.dat");
    const std::string old_cwd = fs::current_path().string();
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    std::vector<std::string> relative = expand_pattern("Sub/*.DAT");
    std::vector<std::string> bare = expand_pattern("S*");   // the directory itself is left out
    std::vector<std::string> in_cwd = expand_pattern("Sub/x.da?");
    ASSERT_EQ(chdir(old_cwd.c_str()), 0);
    EXPECT_EQ(relative, std::vector<std::string>{"Sub/x.dat"});
    EXPECT_TRUE(bare.empty());
    EXPECT_EQ(in_cwd, std::vector<std::string>{"Sub/x.dat"});
}

TEST(WildcardExpand, PatternWithoutDirectoryInWorkingDirectory) {
    ScratchDir dir;
    touch(dir.path / "p1.dat");
    touch(dir.path / "p2.dat");
    const std::string old_cwd = fs::current_path().string();
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    std::vector<std::string> got = expand_pattern("P*.DAT");
    ASSERT_EQ(chdir(old_cwd.c_str()), 0);
    std::vector<std::string> want;
    for (const std::string& n : listing(dir.path)) {
        if (n == "p1.dat" || n == "p2.dat") want.push_back(n);
    }
    EXPECT_EQ(got, want);
}

}  // namespace
