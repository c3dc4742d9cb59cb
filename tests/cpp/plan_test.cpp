#include "core/template/plan.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "core/template/template.hpp"

namespace quillet {
namespace {

ImageView packed_view(const std::vector<std::uint8_t>& px, std::size_t w, std::size_t h) {
    return expect_ok(ImageView::create(px, w, h, w), "test view");
}

TEST(Template, CreateChecksTheBuffer) {
    struct Case {
        std::size_t len, w, h;
        QuilletError::Kind expected;
    };
    const std::vector<Case> cases = {
        {11, 3, 4, err::BufferTooSmall{12, 11}},
        {13, 3, 4, err::InvalidDimensions{3, 4}},
        {0, 0, 4, err::InvalidDimensions{0, 4}},
        {0, 3, 0, err::InvalidDimensions{3, 0}},
    };
    for (const auto& c : cases) {
        auto t = Template::create(std::vector<std::uint8_t>(c.len, 9), c.w, c.h);
        ASSERT_FALSE(t);
        EXPECT_EQ(t.error().message(), QuilletError{c.expected}.message());
    }
    auto ok = Template::create(std::vector<std::uint8_t>(12, 9), 3, 4);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->width(), 3u);
    EXPECT_EQ(ok->height(), 4u);
    EXPECT_EQ(ok->view().stride, 3u);
}

TEST(TemplatePlan, TwoPixelWorkedExample) {
    const std::vector<std::uint8_t> px = {0, 255};
    auto plan = TemplatePlan::from_view(packed_view(px, 1, 2));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->width, 1u);
    EXPECT_EQ(plan->height, 2u);
    EXPECT_EQ(plan->values, (std::vector<float>{-127.5f, 127.5f}));
    EXPECT_EQ(plan->var_sum, 32512.5f);
}

TEST(TemplatePlan, ValuesUseTheMeanRoundedTo32BitsAndVarSumThe64BitMoments) {
    // Sum 16 over 6 pixels: the mean 8/3 is not a float.
    const std::vector<std::uint8_t> px = {0, 1, 2, 3, 4, 6};
    auto plan = TemplatePlan::from_view(packed_view(px, 3, 2));
    ASSERT_TRUE(plan);
    const float mean32 = static_cast<float>(16.0 / 6.0);
    ASSERT_EQ(plan->values.size(), px.size());
    for (std::size_t i = 0; i < px.size(); ++i) EXPECT_EQ(plan->values[i], static_cast<float>(px[i]) - mean32) << i;
    const double var = 66.0 / 6.0 - (16.0 / 6.0) * (16.0 / 6.0);
    EXPECT_EQ(plan->var_sum, static_cast<float>(var * 6.0));
}

TEST(TemplatePlan, FlatTemplatesAreRefusedButKeepAnSsdPlan) {
    struct Case {
        std::size_t w, h;
    };
    for (const auto& c : {Case{4, 3}, Case{1, 1}}) {
        const std::vector<std::uint8_t> px(c.w * c.h, 77);
        auto zncc = TemplatePlan::from_view(packed_view(px, c.w, c.h));
        ASSERT_FALSE(zncc);
        EXPECT_EQ(zncc.error().message(), "degenerate template: zero variance");

        auto ssd = SsdTemplatePlan::from_view(packed_view(px, c.w, c.h));
        ASSERT_TRUE(ssd);
        EXPECT_EQ(ssd->width, c.w);
        EXPECT_EQ(ssd->height, c.h);
        EXPECT_EQ(ssd->values, std::vector<float>(c.w * c.h, 77.0f));
    }
}

TEST(TemplatePlan, ViewWithoutPixelsIsRefused) {
    const ImageView empty{};
    auto zncc = TemplatePlan::from_view(empty);
    auto ssd = SsdTemplatePlan::from_view(empty);
    ASSERT_FALSE(zncc);
    ASSERT_FALSE(ssd);
    EXPECT_EQ(zncc.error().message(), "invalid dimensions: width=0 height=0");
    EXPECT_EQ(ssd.error().message(), "invalid dimensions: width=0 height=0");
}

TEST(TemplatePlan, PaddedViewGivesThePackedPlans) {
    const std::size_t w = 3, h = 3, stride = 7;
    const std::vector<std::uint8_t> packed = {10, 200, 30, 45, 5, 160, 90, 120, 255};
    std::vector<std::uint8_t> padded((h - 1) * stride + w, 1);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) padded[y * stride + x] = packed[y * w + x];
    const ImageView padded_view = expect_ok(ImageView::create(padded, w, h, stride), "padded view");

    auto a = TemplatePlan::from_view(packed_view(packed, w, h));
    auto b = TemplatePlan::from_view(padded_view);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->values, a->values);
    EXPECT_EQ(b->var_sum, a->var_sum);

    auto sa = SsdTemplatePlan::from_view(packed_view(packed, w, h));
    auto sb = SsdTemplatePlan::from_view(padded_view);
    ASSERT_TRUE(sa && sb);
    EXPECT_EQ(sb->values, (std::vector<float>{10, 200, 30, 45, 5, 160, 90, 120, 255}));
    EXPECT_EQ(sb->values, sa->values);
}

}  // namespace
}  // namespace quillet
