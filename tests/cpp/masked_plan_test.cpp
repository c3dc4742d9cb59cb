#include "core/template/masked_plan.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "core/template/plan.hpp"

namespace quillet {
namespace {

using Mask = std::vector<std::uint8_t>;

ImageView packed_view(const std::vector<std::uint8_t>& px, std::size_t w, std::size_t h) {
    return expect_ok(ImageView::create(px, w, h, w), "test view");
}

std::string zncc_error(const ImageView& image, const Mask& mask) {
    auto plan = MaskedTemplatePlan::from_rotated_parts(image, mask);
    return plan ? "ok" : plan.error().message();
}

std::string ssd_error(const ImageView& image, const Mask& mask) {
    auto plan = MaskedSsdTemplatePlan::from_rotated_parts(image, mask);
    return plan ? "ok" : plan.error().message();
}

TEST(MaskedPlans, TwoByTwoWorkedExample) {
    const std::vector<std::uint8_t> px = {10, 20, 30, 40};
    const Mask mask = {1, 0, 1, 1};
    const ImageView image = packed_view(px, 2, 2);
    const std::vector<ValidCoord> coords = {{0, 0}, {0, 1}, {1, 1}};

    auto zncc = MaskedTemplatePlan::from_rotated_parts(image, mask);
    ASSERT_TRUE(zncc);
    EXPECT_EQ(zncc->coords, coords);
    EXPECT_EQ(zncc->width, 2u);
    EXPECT_EQ(zncc->height, 2u);
    EXPECT_EQ(zncc->n_valid, 3.0f);
    // Independent 32-bit computation in coords order.
    const float sum = ((0.0f + 10.0f) + 30.0f) + 40.0f;
    const float mean32 = sum / 3.0f;
    EXPECT_EQ(mean32, 26.666666f);
    const std::vector<float> values = {10.0f - mean32, 30.0f - mean32, 40.0f - mean32};
    EXPECT_EQ(values, (std::vector<float>{-16.666666f, 3.333334f, 13.333334f}));
    EXPECT_EQ(zncc->values, values);
    float var_sum = 0.0f;
    for (float v : values) var_sum = var_sum + v * v;
    EXPECT_EQ(var_sum, 466.66669f);
    EXPECT_EQ(zncc->var_sum, var_sum);

    auto ssd = MaskedSsdTemplatePlan::from_rotated_parts(image, mask);
    ASSERT_TRUE(ssd);
    EXPECT_EQ(ssd->coords, coords);
    EXPECT_EQ(ssd->values, (std::vector<float>{10.0f, 30.0f, 40.0f}));
    EXPECT_EQ(ssd->width, 2u);
    EXPECT_EQ(ssd->height, 2u);
}

TEST(MaskedPlans, RefusedInputs) {
    const std::vector<std::uint8_t> px = {10, 20, 30, 40, 50, 60};
    const ImageView image = packed_view(px, 3, 2);
    const ImageView wide{{}, 65536, 1, 65536};  // unvalidated: the size check comes first
    const ImageView tall{{}, 1, 65536, 1};
    struct Case {
        const char* name;
        ImageView image;
        Mask mask;
        std::string zncc, ssd;
    };
    const std::vector<Case> cases = {
        {"all-zero mask", image, Mask(6, 0), "degenerate template: mask has no valid pixels",
         "degenerate template: mask has no valid pixels"},
        {"one valid pixel", image, {0, 0, 0, 0, 1, 0}, "degenerate template: template variance too small", "ok"},
        {"mask one byte short", image, Mask(5, 1), "buffer too small: needed=6 got=5", "buffer too small: needed=6 got=5"},
        {"mask one byte long", image, Mask(7, 1), "invalid dimensions: width=3 height=2",
         "invalid dimensions: width=3 height=2"},
        {"box 65536 wide", wide, Mask{}, "invalid dimensions: width=65536 height=1",
         "invalid dimensions: width=65536 height=1"},
        {"box 65536 tall", tall, Mask{}, "invalid dimensions: width=1 height=65536",
         "invalid dimensions: width=1 height=65536"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(zncc_error(c.image, c.mask), c.zncc);
        EXPECT_EQ(ssd_error(c.image, c.mask), c.ssd);
    }
}

TEST(MaskedPlans, SingleValidPixelGivesAOnePixelSsdPlan) {
    const std::vector<std::uint8_t> px = {10, 20, 30, 40, 50, 60};
    auto ssd = MaskedSsdTemplatePlan::from_rotated_parts(packed_view(px, 3, 2), Mask{0, 0, 0, 0, 1, 0});
    ASSERT_TRUE(ssd);
    EXPECT_EQ(ssd->coords, (std::vector<ValidCoord>{{1, 1}}));
    EXPECT_EQ(ssd->values, (std::vector<float>{50.0f}));
}

TEST(MaskedPlans, AnyNonZeroMaskByteIsValid) {
    const std::vector<std::uint8_t> px = {10, 20, 30, 40, 50, 60};
    const ImageView image = packed_view(px, 3, 2);
    auto ones = MaskedTemplatePlan::from_rotated_parts(image, Mask{1, 0, 1, 1, 0, 1});
    auto other = MaskedTemplatePlan::from_rotated_parts(image, Mask{2, 0, 255, 1, 0, 128});
    ASSERT_TRUE(ones && other);
    EXPECT_EQ(other->coords, ones->coords);
    EXPECT_EQ(other->values, ones->values);
    EXPECT_EQ(other->var_sum, ones->var_sum);

    auto ssd = MaskedSsdTemplatePlan::from_rotated_parts(image, Mask{2, 0, 255, 1, 0, 128});
    ASSERT_TRUE(ssd);
    EXPECT_EQ(ssd->coords, (std::vector<ValidCoord>{{0, 0}, {2, 0}, {0, 1}, {2, 1}}));
}

TEST(MaskedPlans, FullMaskCoversEveryPixelLikeTheUnmaskedPlan) {
    const std::size_t w = 5, h = 4;
    std::vector<std::uint8_t> px(w * h);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint8_t>((i * 53 + 11) % 256);
    const ImageView image = packed_view(px, w, h);
    auto masked = MaskedTemplatePlan::from_rotated_parts(image, Mask(w * h, 1));
    auto unmasked = TemplatePlan::from_view(image);
    ASSERT_TRUE(masked && unmasked);
    ASSERT_EQ(masked->coords.size(), w * h);
    for (std::size_t i = 0; i < w * h; ++i) {
        EXPECT_EQ(masked->coords[i], (ValidCoord{static_cast<std::uint32_t>(i % w), static_cast<std::uint32_t>(i / w)}));
        EXPECT_NEAR(masked->values[i], unmasked->values[i], 1e-4f);
    }
    EXPECT_NEAR(masked->var_sum, unmasked->var_sum, 1e-6f * unmasked->var_sum);
}

TEST(MaskedPlans, PaddedViewGivesThePackedPlans) {
    const std::size_t w = 3, h = 3, stride = 8;
    const std::vector<std::uint8_t> packed = {10, 200, 30, 45, 5, 160, 90, 120, 255};
    std::vector<std::uint8_t> padded((h - 1) * stride + w, 7);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) padded[y * stride + x] = packed[y * w + x];
    const ImageView padded_view = expect_ok(ImageView::create(padded, w, h, stride), "padded view");
    const Mask mask = {0, 1, 1, 1, 1, 0, 1, 0, 1};

    auto a = MaskedTemplatePlan::from_rotated_parts(packed_view(packed, w, h), mask);
    auto b = MaskedTemplatePlan::from_rotated_parts(padded_view, mask);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->coords, a->coords);
    EXPECT_EQ(b->values, a->values);
    EXPECT_EQ(b->n_valid, 6.0f);
    EXPECT_EQ(b->var_sum, a->var_sum);

    auto sb = MaskedSsdTemplatePlan::from_rotated_parts(padded_view, mask);
    ASSERT_TRUE(sb);
    EXPECT_EQ(sb->coords, a->coords);
    EXPECT_EQ(sb->values, (std::vector<float>{200, 30, 45, 5, 90, 255}));
}

}  // namespace
}  // namespace quillet
