#include "core/refine/quad1d.hpp"
#include "core/refine/quad2d.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillet {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

TEST(Quad1d, SymmetricSamplesGiveZero) {
    auto off = quad_peak_offset_1d(0.5f, 1.0f, 0.5f);
    ASSERT_TRUE(off.has_value());
    EXPECT_EQ(*off, 0.0f);
}

TEST(Quad1d, WorkedSample) {
    // denom = (0 - 2) + 0.5 = -1.5, numerator = (0 - 0.5) * 0.5 = -0.25.
    auto off = quad_peak_offset_1d(0.0f, 1.0f, 0.5f);
    ASSERT_TRUE(off.has_value());
    EXPECT_EQ(*off, -0.25f / -1.5f);
    EXPECT_NEAR(*off, 1.0 / 6.0, 1e-7);
}

TEST(Quad1d, AcceptsOffsetOfExactlyOneStep) {
    // denom = (-3 - 0) + 1 = -2, offset = ((-3 - 1) * 0.5) / -2 = 1; then the mirror image.
    auto off = quad_peak_offset_1d(-3.0f, 0.0f, 1.0f);
    ASSERT_TRUE(off.has_value());
    EXPECT_EQ(*off, 1.0f);
    auto mirrored = quad_peak_offset_1d(1.0f, 0.0f, -3.0f);
    ASSERT_TRUE(mirrored.has_value());
    EXPECT_EQ(*mirrored, -1.0f);
}

TEST(Quad1d, NoOffsetWithoutAReliableMaximum) {
    struct Case {
        float s_minus, s_zero, s_plus;
        const char* what;
    };
    const Case cases[] = {
        {1.0f, 1.0f, 1.0f, "flat (denom 0)"},
        {1.0f, 0.0f, 0.5f, "valley (denom > 0)"},
        {0.0f, 1.0f, 1.9f, "vertex 9.5 steps away"},
        {0.0f, 4.5e-7f, 0.0f, "curvature just below 1e-6"},
        {-kInf, 1.0f, 0.5f, "left neighbour without a score"},
        {0.5f, 1.0f, kInf, "infinite right neighbour"},
        {0.5f, kNan, 0.5f, "NaN centre"},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(quad_peak_offset_1d(c.s_minus, c.s_zero, c.s_plus).has_value()) << c.what;
}

TEST(Quad1d, CurvatureJustAboveThresholdIsKept) {
    // denom = (0 - (5.1e-7 + 5.1e-7)) + 0.1e-7 ~ -1.01e-6.
    auto off = quad_peak_offset_1d(0.0f, 5.1e-7f, 0.1e-7f);
    ASSERT_TRUE(off.has_value());
    const float denom = (0.0f - (5.1e-7f + 5.1e-7f)) + 0.1e-7f;
    EXPECT_EQ(*off, ((0.0f - 0.1e-7f) * 0.5f) / denom);
}

TEST(Quad2d, AllEqualScoresReturnTheIntegerPosition) {
    std::array<float, 9> scores;
    scores.fill(0.25f);
    auto pos = refine_subpixel_2d(17, 3, scores);
    EXPECT_EQ(pos.x, 17.0f);
    EXPECT_EQ(pos.y, 3.0f);
}

TEST(Quad2d, AxesAreFittedIndependentlyAndCornersIgnored) {
    // x axis: 0, 1, 0.5 -> +1/6; y axis: 0.5, 1, 0 -> -1/6. Corners are wild.
    const std::array<float, 9> scores = {
        99.0f, 0.5f, -99.0f,
        0.0f, 1.0f, 0.5f,
        kNan, 0.0f, kInf,
    };
    auto pos = refine_subpixel_2d(10, 20, scores);
    EXPECT_EQ(pos.x, 10.0f + (-0.25f / -1.5f));
    EXPECT_EQ(pos.y, 20.0f + (0.25f / -1.5f));
}

TEST(Quad2d, AxisWithoutScoreKeepsItsIntegerCoordinate) {
    const std::array<float, 9> scores = {
        0.0f, 0.5f, 0.0f,
        -kInf, 1.0f, 0.5f,
        0.0f, 0.0f, 0.0f,
    };
    auto pos = refine_subpixel_2d(4, 6, scores);
    EXPECT_EQ(pos.x, 4.0f);
    EXPECT_EQ(pos.y, 6.0f + (0.25f / -1.5f));
}

TEST(Quad2d, NonFiniteCentreKeepsBothCoordinates) {
    std::array<float, 9> scores;
    scores.fill(0.0f);
    scores[4] = kNan;
    auto pos = refine_subpixel_2d(1, 2, scores);
    EXPECT_EQ(pos.x, 1.0f);
    EXPECT_EQ(pos.y, 2.0f);
}

TEST(Quad2d, LargeCoordinatesRoundToNearestFloat) {
    std::array<float, 9> scores;
    scores.fill(0.0f);
    // 2^24 + 1 is not representable; round to nearest even gives 2^24.
    const std::size_t x = (std::size_t{1} << 24) + 1;
    auto pos = refine_subpixel_2d(x, 0, scores);
    EXPECT_EQ(pos.x, 16777216.0f);
}

}  // namespace
}  // namespace quillet
