// The end of a run: the exit status under switch U and what the platform can
// report of it, and the draw that decides the chance notice.
#include <gtest/gtest.h>

#include <cstdint>

#include "base/params.h"
#include "base/registry.h"
#include "cli/help.h"
#include "e2e.h"

using namespace kmeans;

namespace {

TEST(RunControl, StatusUnderSwitchUAndItsPlatformValue) {
    struct Case {
        int used_level;
        int last_nused;
        int status;    // the program's status
        int reported;  // what the platform reports
    };
    const Case cases[] = {
        {0, 7, 0, 0},                                      // without U: 0 whatever was used
        {1, 7, 7, 7},
        {2, 255, 255, 255},
        {1, 256, 256, 255},                                // above 255: clamped
        {1, 768, 768, 255},
        {1, status_none_learned, status_none_learned, 0},  // nothing learned
        {0, status_none_learned, 0, 0},
    };
    for (const Case& c : cases) {
        Params p;
        p.levels.used = c.used_level;
        EXPECT_EQ(run_status(p.levels, c.last_nused), c.status) << c.used_level << " " << c.last_nused;
        EXPECT_EQ(platform_status(run_status(p.levels, c.last_nused)), c.reported) << c.used_level << " " << c.last_nused;
    }
    EXPECT_EQ(platform_status(1), 1);
    EXPECT_EQ(platform_status(5), 5);
}

// The notice comes by chance when the end-of-run draw is below 1000: 999
// gives it, exactly 1000 does not.
TEST(RunControl, ChanceNoticeBoundary) {
    int seen[3] = {0, 0, 0};
    for (std::uint32_t s = 0; s < 0x10000u; ++s) {
        const int d = end_of_run_draw(s);
        if (d < 999 || d > 1001) continue;
        ++seen[d - 999];
        // The high bits of the time do not take part.
        const std::int64_t now = (std::int64_t{1767} << 16) | s;
        EXPECT_EQ(notice_by_chance(now), d < 1000) << "draw " << d << " at " << now;
    }
    EXPECT_GT(seen[0], 0);  // the boundary is reached from both sides
    EXPECT_GT(seen[1], 0);
}

}  // namespace
