#include "core/candidate/topk.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace quillet {
namespace {

std::vector<Peak> top_of(std::size_t k, const std::vector<Peak>& pushes) {
    TopK top(k);
    for (const Peak& p : pushes) top.push(p);
    return std::move(top).into_sorted_desc();
}

TEST(TopK, ZeroCapacityIgnoresEveryPush) {
    EXPECT_TRUE(top_of(0, {{1, 1, 0, 0.5f}, {2, 2, 0, 0.9f}}).empty());
}

TEST(TopK, CapacityOneKeepsTheBest) {
    auto out = top_of(1, {{1, 1, 0, 0.5f}, {2, 2, 0, 0.9f}, {3, 3, 0, 0.7f}});
    EXPECT_EQ(out, (std::vector<Peak>{{2, 2, 0, 0.9f}}));
}

TEST(TopK, KeepsBestKSortedBestFirst) {
    auto out = top_of(2, {{1, 1, 0, 0.5f}, {2, 2, 0, 0.9f}, {3, 3, 0, 0.7f}});
    EXPECT_EQ(out, (std::vector<Peak>{{2, 2, 0, 0.9f}, {3, 3, 0, 0.7f}}));
}

TEST(TopK, FewerPushesThanCapacityKeepsAll) {
    auto out = top_of(5, {{1, 1, 0, 0.5f}, {2, 2, 0, 0.9f}});
    EXPECT_EQ(out, (std::vector<Peak>{{2, 2, 0, 0.9f}, {1, 1, 0, 0.5f}}));
}

// A full collection holding one better peak and `worst`; the newcomer ties the worst score.
TEST(TopK, TieWithWorstIsBrokenByYThenXThenAngle) {
    const Peak best{0, 0, 0, 1.0f};
    const Peak worst{5, 5, 5, 0.5f};
    struct Case {
        Peak newcomer;
        bool replaces;
    };
    const Case cases[] = {
        {{9, 4, 9, 0.5f}, true},   // smaller y wins regardless of x and angle
        {{0, 6, 0, 0.5f}, false},  // larger y loses
        {{4, 5, 9, 0.5f}, true},   // same y, smaller x
        {{6, 5, 0, 0.5f}, false},  // same y, larger x
        {{5, 5, 4, 0.5f}, true},   // same position, smaller angle index
        {{5, 5, 6, 0.5f}, false},  // same position, larger angle index
        {{5, 5, 5, 0.5f}, false},  // identical peak is dropped
    };
    for (const Case& c : cases) {
        auto out = top_of(2, {best, worst, c.newcomer});
        const Peak expected_second = c.replaces ? c.newcomer : worst;
        EXPECT_EQ(out, (std::vector<Peak>{best, expected_second}))
            << "newcomer x=" << c.newcomer.x << " y=" << c.newcomer.y << " angle=" << c.newcomer.angle_idx;
    }
}

TEST(TopK, IdenticalPeaksOccupyTwoSlots) {
    const Peak p{1, 2, 3, 0.25f};
    EXPECT_EQ(top_of(3, {p, p}), (std::vector<Peak>{p, p}));
}

TEST(PeakCmpDesc, ScoresFollowTotalOrder) {
    const float inf = std::numeric_limits<float>::infinity();
    const float pos_nan = std::bit_cast<float>(std::uint32_t{0x7fc00000});
    const float neg_nan = std::bit_cast<float>(std::uint32_t{0xffc00000});
    // Best first: +NaN, +inf, 1, +0, -0, -1, -inf, -NaN.
    const float ranked[] = {pos_nan, inf, 1.0f, 0.0f, -0.0f, -1.0f, -inf, neg_nan};
    for (std::size_t i = 0; i < std::size(ranked); ++i) {
        for (std::size_t j = 0; j < std::size(ranked); ++j) {
            const Peak a{0, 0, 0, ranked[i]}, b{0, 0, 0, ranked[j]};
            EXPECT_EQ(peak_cmp_desc(a, b), i <=> j) << "i=" << i << " j=" << j;
        }
    }
}

TEST(PeakCmpDesc, PositiveZeroOutranksNegativeZeroInTopK) {
    auto out = top_of(1, {{0, 0, 0, -0.0f}, {9, 9, 0, 0.0f}});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(std::signbit(out[0].score));
}

TEST(PeakCmpDesc, EqualOnlyForIdenticalPeaks) {
    const Peak p{1, 2, 3, 0.5f};
    EXPECT_EQ(peak_cmp_desc(p, p), std::strong_ordering::equal);
    EXPECT_EQ(peak_cmp_desc(p, Peak{1, 2, 4, 0.5f}), std::strong_ordering::less);
    EXPECT_EQ(peak_cmp_desc(p, Peak{1, 2, 2, 0.5f}), std::strong_ordering::greater);
}

TEST(TopK, ResultDoesNotDependOnPushOrder) {
    std::vector<Peak> peaks = {
        {0, 0, 0, 0.5f}, {1, 0, 0, 0.5f}, {0, 1, 0, 0.5f}, {0, 0, 1, 0.5f},
        {3, 3, 0, 0.9f}, {2, 2, 2, -1.0f}, {4, 1, 0, 0.75f},
    };
    const auto reference = top_of(4, peaks);
    ASSERT_EQ(reference.size(), 4u);
    EXPECT_EQ(reference[0], (Peak{3, 3, 0, 0.9f}));
    EXPECT_EQ(reference[1], (Peak{4, 1, 0, 0.75f}));
    EXPECT_EQ(reference[2], (Peak{0, 0, 0, 0.5f}));
    EXPECT_EQ(reference[3], (Peak{0, 0, 1, 0.5f}));
    std::sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) {
        return std::tie(a.x, a.y, a.angle_idx) < std::tie(b.x, b.y, b.angle_idx);
    });
    do {
        EXPECT_EQ(top_of(4, peaks), reference);
    } while (std::next_permutation(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) {
        return std::tie(a.x, a.y, a.angle_idx) < std::tie(b.x, b.y, b.angle_idx);
    }));
}

}  // namespace
}  // namespace quillet
