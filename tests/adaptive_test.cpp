// Unit tests of the adaptive update and the rate schedule shared by AKM and
// AKMDI: the move of a centre towards a row and Alpha times ItParam.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "cluster/algorithms.h"

using namespace kmeans;

namespace {

struct PullCase {
    float centre;
    float row;
    float alpha;
    float want;
};

class AdaptivePullCentre : public ::testing::TestWithParam<PullCase> {};

TEST_P(AdaptivePullCentre, MovesByAlphaTimesDifference) {
    const PullCase& c = GetParam();
    float centre[1] = {c.centre};
    const float row[1] = {c.row};
    pull_centre(centre, row, 1, c.alpha);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(centre[0]), std::bit_cast<std::uint32_t>(c.want))
        << "got " << centre[0] << ", want " << c.want;
}

INSTANTIATE_TEST_SUITE_P(
    Values, AdaptivePullCentre,
    ::testing::Values(PullCase{0.0f, 10.0f, 0.5f, 5.0f},     // halfway
                      PullCase{5.0f, 10.0f, 0.5f, 7.5f},     // halfway again
                      PullCase{0.0f, 10.0f, 1.0f, 10.0f},    // onto the row
                      PullCase{0.0f, 10.0f, 2.0f, 20.0f},    // past the row
                      PullCase{3.0f, 3.0f, 0.5f, 3.0f},      // a row on the centre does not move it
                      PullCase{10.0f, -6.0f, 0.25f, 6.0f},   // 10 + 0.25 * -16
                      // 7 + 0.7f * 13 taken in double is 16.0999998 and rounds to
                      // 16.1000004; single-precision steps would give 16.0999985.
                      PullCase{7.0f, 20.0f, 0.7f, 16.100000381469727f}));

TEST(AdaptivePullCentre, DoublePrecisionStepsDifferFromSingle) {
    // The case above is only meaningful if single-precision arithmetic
    // would give another value.
    volatile float a = 0.7f, c = 7.0f, x = 20.0f;
    float diff = x - c;
    float step = a * diff;
    float single = c + step;
    EXPECT_NE(single, 16.100000381469727f);
}

TEST(AdaptivePullCentre, EveryVariableMovesAndNothingBeyond) {
    float centre[4] = {0.0f, 10.0f, -4.0f, 99.0f};
    const float row[4] = {2.0f, 0.0f, 4.0f, 1.0f};
    pull_centre(centre, row, 3, 0.5f);
    EXPECT_EQ(centre[0], 1.0f);
    EXPECT_EQ(centre[1], 5.0f);
    EXPECT_EQ(centre[2], 0.0f);
    EXPECT_EQ(centre[3], 99.0f);  // only the first nvars values belong to the centre
}

TEST(AdaptiveNextAlpha, DefaultScheduleAndFactorTwo) {
    float alpha = 0.5f;
    std::vector<float> seen;
    for (int i = 0; i < 4; ++i) {
        seen.push_back(alpha);
        alpha = next_alpha(alpha, 0.75f);
    }
    EXPECT_EQ(seen, (std::vector<float>{0.5f, 0.375f, 0.28125f, 0.2109375f}));
    EXPECT_EQ(next_alpha(0.5f, 2.0f), 1.0f);
    EXPECT_EQ(next_alpha(0.3f, 1.0f), 0.3f);
}

TEST(AdaptiveNextAlpha, RoundsTheProductToSingle) {
    // 0.1f * 0.1f in exact arithmetic is 0.0100000002980232; the nearest
    // float is 0.010000000707805 (bits 0x3C23D70B).
    EXPECT_EQ(std::bit_cast<std::uint32_t>(next_alpha(0.1f, 0.1f)), 0x3C23D70Bu);
}

}  // namespace
