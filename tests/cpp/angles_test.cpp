#include "core/bank/angles.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillet {
namespace {

AngleGrid grid_of(float step) {
    auto grid = AngleGrid::create(-180.0f, 180.0f, step);
    EXPECT_TRUE(grid.has_value());
    return *grid;
}

std::string_view grid_error(float start, float end, float step) {
    auto grid = AngleGrid::create(start, end, step);
    EXPECT_FALSE(grid.has_value());
    if (grid) return "";
    EXPECT_TRUE(grid.error().is<err::InvalidAngleGrid>());
    return grid.error().as<err::InvalidAngleGrid>().reason;
}

TEST(AngleGrid, TenDegreeGridCoversTheCircle) {
    AngleGrid grid = grid_of(10.0f);
    EXPECT_EQ(grid.count, 36u);
    EXPECT_EQ(grid.angle_at(0), -180.0f);
    EXPECT_EQ(grid.angle_at(18), 0.0f);
    EXPECT_EQ(grid.angle_at(35), 170.0f);
    auto pairs = grid.iter();
    ASSERT_EQ(pairs.size(), 36u);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_EQ(pairs[i].first, i);
        EXPECT_EQ(pairs[i].second, -180.0f + 10.0f * static_cast<float>(i));
    }
}

TEST(AngleGrid, UnevenStepLeavesAGapBeforeTheSeam) {
    AngleGrid grid = grid_of(7.0f);
    EXPECT_EQ(grid.count, 52u);
    EXPECT_EQ(grid.angle_at(51), 177.0f);
}

TEST(AngleGrid, StepOfAFullTurnOrMoreGivesOneAngle) {
    for (float step : {360.0f, 400.0f}) {
        AngleGrid grid = grid_of(step);
        EXPECT_EQ(grid.count, 1u) << step;
        EXPECT_EQ(grid.angle_at(0), -180.0f) << step;
    }
}

TEST(AngleGrid, DefaultLevelStepsGiveTheExpectedCounts) {
    // Steps 0.5 ... 10 of a six-level template: 720, 576, 288, 144, 72 and 36 angles.
    const std::pair<float, std::size_t> cases[] = {{0.5f, 720}, {0.625f, 576}, {1.25f, 288}, {2.5f, 144}, {5.0f, 72}, {10.0f, 36}};
    for (auto [step, count] : cases) EXPECT_EQ(grid_of(step).count, count) << step;
}

TEST(AngleGrid, RefusesBadParameters) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(grid_error(-180, 180, 0.0f), "step_deg must be > 0");
    EXPECT_EQ(grid_error(-180, 180, -1.0f), "step_deg must be > 0");
    EXPECT_EQ(grid_error(-180, 180, nan), "non-finite angle grid parameters");
    EXPECT_EQ(grid_error(-180, 180, inf), "non-finite angle grid parameters");
    EXPECT_EQ(grid_error(180, -180, 10.0f), "angle grid produced no samples");
}

TEST(AngleGrid, RefusesNonFiniteBoundsInsteadOfCountingForever) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(grid_error(nan, 180, 10.0f), "non-finite angle grid parameters");
    EXPECT_EQ(grid_error(-180, nan, 10.0f), "non-finite angle grid parameters");
    EXPECT_EQ(grid_error(-180, inf, 10.0f), "non-finite angle grid parameters");
}

TEST(AngleGrid, RefusesAbsurdlyFineSteps) {
    EXPECT_EQ(grid_error(-180, 180, 1e-6f), "too many angles (at most 360000)");
    // A subnormal step would otherwise never finish counting.
    EXPECT_EQ(grid_error(-180, 180, std::numeric_limits<float>::denorm_min()), "too many angles (at most 360000)");
    EXPECT_EQ(grid_of(0.001f).count, 360000u);
    EXPECT_FALSE(grid_exceeds_max_angles(-180, 180, 0.001f));
    EXPECT_TRUE(grid_exceeds_max_angles(-180, 180, 0.00099f));
}

TEST(WrapDeg, MapsIntoTheHalfOpenCircle) {
    const std::pair<float, float> cases[] = {
        {540.0f, -180.0f}, {-540.0f, -180.0f}, {359.5f, -0.5f}, {180.0f, -180.0f},
        {190.0f, -170.0f}, {-190.0f, 170.0f},  {-180.0f, -180.0f}, {0.0f, 0.0f},
    };
    for (auto [in, out] : cases) EXPECT_EQ(wrap_deg(in), out) << in;
    EXPECT_TRUE(std::isnan(wrap_deg(std::numeric_limits<float>::quiet_NaN())));
}

TEST(IndicesWithin, CrossesTheSeam) {
    AngleGrid grid = grid_of(10.0f);
    EXPECT_EQ(grid.indices_within(-180.0f, 10.0f), (std::vector<std::size_t>{0, 1, 35}));
    EXPECT_EQ(grid.indices_within(175.0f, 10.0f), (std::vector<std::size_t>{0, 35}));
}

TEST(IndicesWithin, HalfRangeEdges) {
    AngleGrid grid = grid_of(10.0f);
    EXPECT_EQ(grid.indices_within(30.0f, 0.0f), (std::vector<std::size_t>{21}));
    EXPECT_EQ(grid.indices_within(180.0f, 0.0f), (std::vector<std::size_t>{0}));
    EXPECT_TRUE(grid.indices_within(35.0f, 0.0f).empty());
    EXPECT_EQ(grid.indices_within(35.0f, 180.0f).size(), 36u);
    EXPECT_TRUE(grid.indices_within(30.0f, -1.0f).empty());
    EXPECT_TRUE(grid.indices_within(30.0f, std::numeric_limits<float>::quiet_NaN()).empty());
    EXPECT_TRUE(grid.indices_within(std::numeric_limits<float>::quiet_NaN(), 10.0f).empty());
}

TEST(LevelStep, HalvesTowardsLevelZeroDownToTheFloor) {
    const float with_half_floor[] = {0.5f, 0.625f, 1.25f, 2.5f, 5.0f, 10.0f};
    const float with_floor_two[] = {2.0f, 2.0f, 2.0f, 2.5f, 5.0f, 10.0f};
    for (std::size_t level = 0; level < 6; ++level) {
        EXPECT_EQ(level_step_deg(10.0f, 0.5f, 6, level), with_half_floor[level]) << level;
        EXPECT_EQ(level_step_deg(10.0f, 2.0f, 6, level), with_floor_two[level]) << level;
    }
}

TEST(LevelStep, VeryDeepLevelsStopHalvingAtTwoToTheSixtyFour) {
    EXPECT_EQ(level_step_deg(10.0f, 0.0f, 100, 0), 10.0f / 18446744073709551616.0f);
    // A NaN floor gives way to the halved step.
    EXPECT_EQ(level_step_deg(10.0f, std::numeric_limits<float>::quiet_NaN(), 3, 0), 2.5f);
}

}  // namespace
}  // namespace quillet
