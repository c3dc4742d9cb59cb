#include "core/image/pyramid.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace quillet {
namespace {

using Size = std::pair<std::size_t, std::size_t>;

std::vector<std::uint8_t> textured(std::size_t w, std::size_t h) {
    std::vector<std::uint8_t> px(w * h);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint8_t>((i * 37 + i / 7) % 256);
    return px;
}

std::vector<Size> level_sizes(const ImagePyramid& p) {
    std::vector<Size> sizes;
    for (const auto& level : p.levels) sizes.emplace_back(level.width(), level.height());
    return sizes;
}

ImagePyramid build(std::size_t w, std::size_t h, std::size_t max_levels) {
    auto px = textured(w, h);
    auto view = ImageView::create(px, w, h, w);
    return expect_ok(ImagePyramid::build_u8(*view, max_levels), "test pyramid");
}

TEST(ImagePyramid, LevelSizes) {
    struct Case {
        std::size_t w, h, max_levels;
        std::vector<Size> sizes;
    };
    const std::vector<Case> cases = {
        {640, 480, 6, {{640, 480}, {320, 240}, {160, 120}, {80, 60}, {40, 30}, {20, 15}}},
        {64, 4, 6, {{64, 4}, {32, 2}, {16, 1}}},
        {5, 3, 6, {{5, 3}, {2, 1}}},
        {2, 2, 6, {{2, 2}, {1, 1}}},
        {1, 9, 6, {{1, 9}}},
        {9, 1, 6, {{9, 1}}},
        {16, 16, 0, {{16, 16}}},
        {16, 16, 1, {{16, 16}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " max_levels " << c.max_levels);
        EXPECT_EQ(level_sizes(build(c.w, c.h, c.max_levels)), c.sizes);
    }
}

TEST(ImagePyramid, LevelZeroIsACopyOfTheInput) {
    auto px = textured(7, 5);
    auto view = ImageView::create(px, 7, 5, 7);
    auto p = ImagePyramid::build_u8(*view, 0);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->levels[0].data(), px);
}

TEST(ImagePyramid, TwoByTwoReducesToItsRoundedMean) {
    const std::vector<std::uint8_t> px = {1, 2, 3, 5};
    auto p = ImagePyramid::build_u8(*ImageView::create(px, 2, 2, 2), 3);
    ASSERT_TRUE(p);
    ASSERT_EQ(p->levels.size(), 2u);
    EXPECT_EQ(p->levels[1].data(), (std::vector<std::uint8_t>{3}));  // (11 + 2) / 4
}

TEST(Downsample, RoundsHalfUp) {
    struct Case {
        std::vector<std::uint8_t> px;  // a, b, c, d of a 2x2 image
        std::uint8_t expected;
    };
    const std::vector<Case> cases = {
        {{0, 0, 0, 2}, 1},   {{0, 0, 0, 1}, 0},       {{255, 255, 255, 255}, 255},
        {{1, 2, 3, 4}, 3},   {{0, 0, 1, 1}, 1},       {{10, 20, 30, 41}, 25},
    };
    for (const auto& c : cases) {
        auto view = ImageView::create(c.px, 2, 2, 2);
        auto out = downsample_u8_2x2_box(*view);
        ASSERT_TRUE(out);
        ASSERT_EQ(out->width(), 1u);
        ASSERT_EQ(out->height(), 1u);
        EXPECT_EQ(out->data()[0], c.expected) << int(c.px[0]) << " " << int(c.px[1]) << " " << int(c.px[2]) << " "
                                              << int(c.px[3]);
    }
}

TEST(Downsample, DropsOddLastRowAndColumn) {
    // 5x3: only the top-left 4x2 block contributes.
    const std::vector<std::uint8_t> px = {
        0,  4,  8,  12, 200,
        4,  8,  12, 17, 200,
        99, 99, 99, 99, 99,
    };
    auto view = ImageView::create(px, 5, 3, 5);
    auto out = downsample_u8_2x2_box(*view);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->width(), 2u);
    EXPECT_EQ(out->height(), 1u);
    EXPECT_EQ(out->data(), (std::vector<std::uint8_t>{4, 12}));  // (16+2)/4, (49+2)/4
}

TEST(Downsample, RefusesThinSources) {
    const std::vector<std::uint8_t> px(5, 1);
    for (auto [w, h] : {Size{1, 5}, Size{5, 1}}) {
        auto view = ImageView::create(px, w, h, w);
        auto out = downsample_u8_2x2_box(*view);
        ASSERT_FALSE(out);
        ASSERT_TRUE(out.error().is<err::InvalidDimensions>());
        EXPECT_EQ(out.error().as<err::InvalidDimensions>().width, w);
        EXPECT_EQ(out.error().as<err::InvalidDimensions>().height, h);
    }
}

TEST(ImagePyramid, PaddedViewGivesThePackedPyramid) {
    const std::size_t w = 13, h = 11, stride = 20;
    auto packed = textured(w, h);
    std::vector<std::uint8_t> padded((h - 1) * stride + w, 0xEE);
    for (std::size_t y = 0; y < h; ++y)
        std::copy_n(packed.begin() + static_cast<std::ptrdiff_t>(y * w), w, padded.begin() + static_cast<std::ptrdiff_t>(y * stride));

    auto a = ImagePyramid::build_u8(*ImageView::create(packed, w, h, w), 4);
    auto b = ImagePyramid::build_u8(*ImageView::create(padded, w, h, stride), 4);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->levels.size(), 4u);  // 13x11, 6x5, 3x2, 1x1
    ASSERT_EQ(b->levels.size(), a->levels.size());
    for (std::size_t k = 0; k < a->levels.size(); ++k) {
        EXPECT_EQ(b->levels[k].width(), a->levels[k].width());
        EXPECT_EQ(b->levels[k].height(), a->levels[k].height());
        EXPECT_EQ(b->levels[k].stride(), b->levels[k].width());
        EXPECT_EQ(b->levels[k].data(), a->levels[k].data());
    }
}

}  // namespace
}  // namespace quillet
