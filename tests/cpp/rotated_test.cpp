#include "core/bank/rotated.hpp"

#include <gtest/gtest.h>

#include <latch>
#include <limits>
#include <thread>

#include "bank_fixtures.hpp"

namespace quillet {
namespace {

using testing::textured_pixels;

std::string validate_message(CompileConfig config) {
    auto status = config.validate();
    return status ? "ok" : status.error().message();
}

TEST(CompileConfig, ChecksInOrder) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        std::size_t max_levels;
        float coarse, min;
        const char* message;
    };
    const Case cases[] = {
        {6, 10.0f, 0.5f, "ok"},
        {6, 10.0f, 10.0f, "ok"},
        {6, 10.0f, 0.001f, "ok"},
        {0, -1.0f, nan, "invalid config: max_levels must be at least 1"},
        {6, nan, 0.5f, "invalid config: coarse_step_deg must be a positive finite value"},
        {6, inf, 0.5f, "invalid config: coarse_step_deg must be a positive finite value"},
        {6, 0.0f, 0.5f, "invalid config: coarse_step_deg must be a positive finite value"},
        {6, 10.0f, -0.5f, "invalid config: min_step_deg must be a positive finite value"},
        {6, 10.0f, nan, "invalid config: min_step_deg must be a positive finite value"},
        {6, 1.0f, 2.0f, "invalid config: min_step_deg must not exceed coarse_step_deg"},
        {6, 10.0f, 1e-8f, "ok"},
        {6, 10.0f, std::numeric_limits<float>::denorm_min(), "ok"},
    };
    for (const Case& c : cases) {
        CompileConfig config;
        config.max_levels = c.max_levels;
        config.coarse_step_deg = c.coarse;
        config.min_step_deg = c.min;
        EXPECT_EQ(validate_message(config), c.message) << c.max_levels << " " << c.coarse << " " << c.min;
    }
}

TEST(CheckAngleStep, LeavesInvalidStepsToTheGrid) {
    EXPECT_TRUE(check_angle_step(0.001f));
    EXPECT_FALSE(check_angle_step(0.0009f));
    EXPECT_TRUE(check_angle_step(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_TRUE(check_angle_step(-1.0f));
}

ImageView view_of(const std::vector<std::uint8_t>& px, std::size_t w, std::size_t h) {
    return expect_ok(ImageView::create(px, w, h, w), "test view");
}

TEST(RotateDownsample, AngleZeroLevelZeroKeepsPixelsAndDropsLastRowAndColumn) {
    const std::size_t w = 7, h = 5;
    const auto px = textured_pixels(w, h);
    auto r = rotate_downsample_to_level(view_of(px, w, h), 9, 0, 0.0f);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->image.width(), w);
    ASSERT_EQ(r->image.height(), h);
    ASSERT_EQ(r->mask.size(), w * h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            const bool inside = x + 1 < w && y + 1 < h;
            EXPECT_EQ(r->mask[y * w + x], inside ? 1 : 0) << x << "," << y;
            EXPECT_EQ(r->image.data()[y * w + x], inside ? px[y * w + x] : 9) << x << "," << y;
        }
}

TEST(RotateDownsample, ReducesImageAndMaskTogether) {
    auto r = rotate_downsample_to_level(view_of(textured_pixels(13, 9), 13, 9), 0, 2, 30.0f);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->image.width(), 3u);
    EXPECT_EQ(r->image.height(), 2u);
    EXPECT_EQ(r->mask.size(), 6u);
}

TEST(RotateDownsample, ReducedPixelIsValidOnlyWhenAllFourAre) {
    // At angle 0 the 4x4 mask is valid on the top-left 3x3 block, so after one reduction only
    // (0, 0) keeps all four finer pixels.
    const std::vector<std::uint8_t> px = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160};
    auto r = rotate_downsample_to_level(view_of(px, 4, 4), 0, 1, 0.0f);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->mask, (std::vector<std::uint8_t>{1, 0, 0, 0}));
    // Box averages of the rotated image, whose last row and column hold the fill value 0.
    EXPECT_EQ(r->image.data(), (std::vector<std::uint8_t>{(10 + 20 + 50 + 60 + 2) / 4, (30 + 0 + 70 + 0 + 2) / 4,
                                                          (90 + 100 + 0 + 0 + 2) / 4, (110 + 0 + 0 + 0 + 2) / 4}));
}

TEST(RotateDownsample, LevelTooDeepForTheImageFails) {
    auto r = rotate_downsample_to_level(view_of(textured_pixels(4, 4), 4, 4), 0, 3, 0.0f);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "invalid dimensions: width=1 height=1");
}

TEST(BuildRotatedTemplate, AngleZeroPlansCoverAllButTheLastRowAndColumn) {
    const std::size_t w = 6, h = 4;
    const auto px = textured_pixels(w, h);
    auto t = build_rotated_template(view_of(px, w, h), 0, 0, 0.0f);
    ASSERT_TRUE(t);
    ASSERT_EQ(t->zncc_plan.coords.size(), (w - 1) * (h - 1));
    EXPECT_EQ(t->zncc_plan.coords, t->ssd_plan.coords);
    std::size_t i = 0;
    for (std::uint32_t y = 0; y + 1 < h; ++y)
        for (std::uint32_t x = 0; x + 1 < w; ++x, ++i) {
            EXPECT_EQ(t->ssd_plan.coords[i], (ValidCoord{x, y}));
            EXPECT_EQ(t->ssd_plan.values[i], static_cast<float>(px[y * w + x]));
        }
}

TEST(BuildRotatedTemplate, FlatValidRegionIsRefused) {
    const std::vector<std::uint8_t> px(25, 77);
    auto t = build_rotated_template(view_of(px, 5, 5), 0, 0, 20.0f);
    ASSERT_FALSE(t);
    EXPECT_EQ(t.error().message(), "degenerate template: template variance too small");
}

std::unique_ptr<RotatedTemplate> marked_template(float mark) {
    auto t = std::make_unique<RotatedTemplate>();
    t->ssd_plan.values = {mark};
    return t;
}

TEST(RotationSlot, FirstStoreWins) {
    RotationSlot slot;
    EXPECT_EQ(slot.get(), nullptr);
    const RotatedTemplate& first = slot.store(marked_template(1.0f));
    const RotatedTemplate& second = slot.store(marked_template(2.0f));
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(slot.get(), &first);
    EXPECT_EQ(slot.get()->ssd_plan.values[0], 1.0f);
}

TEST(RotationSlot, RacingStoresAllSeeTheSameContent) {
    constexpr int kThreads = 16;
    RotationSlot slot;
    std::latch start(kThreads);
    std::vector<const RotatedTemplate*> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto mine = marked_template(static_cast<float>(t));
            start.arrive_and_wait();
            seen[t] = &slot.store(std::move(mine));
        });
    }
    for (auto& thread : threads) thread.join();
    for (const RotatedTemplate* p : seen) EXPECT_EQ(p, slot.get());
    // The stored content is complete: one thread's whole template.
    ASSERT_EQ(slot.get()->ssd_plan.values.size(), 1u);
}

}  // namespace
}  // namespace quillet
