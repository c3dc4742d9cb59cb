#include "core/candidate/nms.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace quillet {
namespace {

TEST(Nms, EmptyInputGivesEmptyResult) {
    std::vector<Peak> peaks;
    EXPECT_TRUE(nms_2d(peaks, 3).empty());
}

TEST(Nms, SinglePeakSurvives) {
    std::vector<Peak> peaks = {{4, 5, 1, 0.3f}};
    EXPECT_EQ(nms_2d(peaks, 3), peaks);
}

TEST(Nms, RadiusZeroKeepsSortedInputWithDuplicates) {
    std::vector<Peak> peaks = {{1, 1, 0, 0.2f}, {1, 1, 0, 0.8f}, {1, 1, 0, 0.2f}};
    const std::vector<Peak> sorted = {{1, 1, 0, 0.8f}, {1, 1, 0, 0.2f}, {1, 1, 0, 0.2f}};
    EXPECT_EQ(nms_2d(peaks, 0), sorted);
    EXPECT_EQ(peaks, sorted);
}

TEST(Nms, SuppressionWindowIncludesItsBorder) {
    // A better peak at (10, 10) and a weaker one at the given offset.
    struct Case {
        std::size_t radius, x, y;
        bool survives;
    };
    const Case cases[] = {
        {1, 11, 11, false},  // diagonal neighbour
        {1, 9, 9, false},    // diagonal neighbour on the other side (unsigned difference)
        {1, 12, 10, true},   // two columns away
        {3, 13, 10, false},  // exactly radius columns away
        {3, 10, 7, false},   // exactly radius rows away
        {3, 14, 10, true},   // radius + 1 columns away
        {3, 10, 6, true},    // radius + 1 rows away
        {3, 13, 14, true},   // Chebyshev distance is the larger of the two
    };
    for (const Case& c : cases) {
        const Peak better{10, 10, 0, 0.9f};
        const Peak weaker{c.x, c.y, 0, 0.5f};
        std::vector<Peak> peaks = {weaker, better};
        const auto expected = c.survives ? std::vector<Peak>{better, weaker} : std::vector<Peak>{better};
        EXPECT_EQ(nms_2d(peaks, c.radius), expected) << "radius=" << c.radius << " at (" << c.x << ", " << c.y << ")";
    }
}

TEST(Nms, DiscardedPeaksDoNotSuppress) {
    std::vector<Peak> peaks = {{8, 0, 0, 0.7f}, {4, 0, 0, 0.8f}, {0, 0, 0, 0.9f}};
    EXPECT_EQ(nms_2d(peaks, 5), (std::vector<Peak>{{0, 0, 0, 0.9f}, {8, 0, 0, 0.7f}}));
}

TEST(Nms, AngleIndexPlaysNoPart) {
    std::vector<Peak> peaks = {{3, 3, 7, 0.4f}, {3, 3, 2, 0.6f}};
    EXPECT_EQ(nms_2d(peaks, 1), (std::vector<Peak>{{3, 3, 2, 0.6f}}));
}

TEST(Nms, EqualScoresPreferSmallerYThenSmallerX) {
    std::vector<Peak> by_y = {{4, 6, 0, 0.5f}, {5, 5, 0, 0.5f}};
    EXPECT_EQ(nms_2d(by_y, 2), (std::vector<Peak>{{5, 5, 0, 0.5f}}));
    std::vector<Peak> by_x = {{6, 5, 0, 0.5f}, {5, 5, 0, 0.5f}};
    EXPECT_EQ(nms_2d(by_x, 2), (std::vector<Peak>{{5, 5, 0, 0.5f}}));
}

TEST(Nms, InputComesBackSortedBestFirst) {
    std::vector<Peak> peaks = {{0, 0, 0, 0.1f}, {1, 0, 0, 0.3f}, {2, 0, 0, 0.2f}};
    nms_2d(peaks, 10);
    EXPECT_EQ(peaks, (std::vector<Peak>{{1, 0, 0, 0.3f}, {2, 0, 0, 0.2f}, {0, 0, 0, 0.1f}}));
}

}  // namespace
}  // namespace quillet
