// Bad input never crashes the program: random bytes from the data grammar
// and hostile values end either in results or in a PANIC with its status.
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
        {}, {"-A"}, {"-I"}, {"-I", "-M0.001"}, {"-I", "-M1E39"}, {"-B", "-D2"},
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

}  // namespace
