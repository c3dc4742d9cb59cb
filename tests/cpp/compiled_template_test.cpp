#include "core/bank/compiled_template.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <string>
#include <thread>

#include "bank_fixtures.hpp"
#include "core/image/pyramid.hpp"
#include "core/util/trace.hpp"

namespace quillet {
namespace {

using testing::constant_template;
using testing::textured_pixels;
using testing::textured_template;

CompileConfig config_with(bool precompute) {
    CompileConfig config;
    config.precompute_coarsest = precompute;
    return config;
}

std::string unrotated_error(const Template& tpl, std::size_t max_levels) {
    auto compiled = CompiledTemplate::compile_unrotated(tpl, max_levels);
    return compiled ? "ok" : compiled.error().message();
}

std::string rotated_error(const Template& tpl, const CompileConfig& config = {}) {
    auto compiled = CompiledTemplate::compile_rotated(tpl, config);
    return compiled ? "ok" : compiled.error().message();
}

std::size_t filled_slots(const LevelBank& bank) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < bank.grid.count; ++i) n += bank.rotations[i].get() != nullptr;
    return n;
}

// Valid pixels of a w x h box rotated by angle_deg and reduced `level` times, counted with a
// mask reduction written here: a coarse pixel needs all four finer pixels valid.
std::size_t valid_pixels(std::size_t w, std::size_t h, std::size_t level, float angle_deg) {
    const std::vector<std::uint8_t> px(w * h, 0);
    std::vector<std::uint8_t> mask = rotate_u8_bilinear_masked(expect_ok(ImageView::create(px, w, h, w), "view"), 0, angle_deg).mask;
    for (std::size_t l = 0; l < level; ++l) {
        std::vector<std::uint8_t> coarse((w / 2) * (h / 2));
        for (std::size_t y = 0; y < h / 2; ++y)
            for (std::size_t x = 0; x < w / 2; ++x)
                coarse[y * (w / 2) + x] = mask[2 * y * w + 2 * x] && mask[2 * y * w + 2 * x + 1] && mask[(2 * y + 1) * w + 2 * x] &&
                                          mask[(2 * y + 1) * w + 2 * x + 1];
        mask = std::move(coarse);
        w /= 2;
        h /= 2;
    }
    return static_cast<std::size_t>(std::count(mask.begin(), mask.end(), 1));
}

// Fewest valid pixels over the 36 angles of a 10-degree grid.
std::size_t fewest_valid_pixels(std::size_t w, std::size_t h, std::size_t level) {
    std::size_t fewest = w * h;
    for (int k = 0; k < 36; ++k) fewest = std::min(fewest, valid_pixels(w, h, level, -180.0f + 10.0f * static_cast<float>(k)));
    return fewest;
}

TEST(CompileUnrotated, TexturedSixtyFourKeepsFourLevels) {
    auto compiled = CompiledTemplate::compile_unrotated(textured_template(64, 64), 6);
    ASSERT_TRUE(compiled);
    EXPECT_FALSE(compiled->has_angle_banks());
    EXPECT_EQ(compiled->with_rotation(), nullptr);
    // 64, 32, 16, 8: the 4x4 and 2x2 levels have fewer than 32 pixels.
    ASSERT_EQ(compiled->num_levels(), 4u);
    ASSERT_EQ(compiled->plans().size(), 4u);
    ASSERT_EQ(compiled->ssd_plans().size(), 4u);
    for (std::size_t l = 0; l < 4; ++l) {
        const std::size_t side = 64u >> l;
        EXPECT_EQ(compiled->levels()[l].width(), side);
        EXPECT_EQ(compiled->levels()[l].height(), side);
        EXPECT_EQ(compiled->plans()[l].values.size(), side * side);
        EXPECT_EQ(compiled->ssd_plans()[l].width, side);
    }
    EXPECT_EQ(compiled->levels()[0].data(), textured_pixels(64, 64));
    auto r = compiled->rotated(0, 0);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "rotation unavailable: compiled without rotation support");
}

TEST(CompileUnrotated, Errors) {
    EXPECT_EQ(unrotated_error(constant_template(16, 16, 40), 6), "degenerate template: zero variance");
    EXPECT_EQ(unrotated_error(textured_template(16, 16), 0), "invalid config: max_levels must be at least 1");
    auto one = CompiledTemplate::compile_unrotated(textured_template(64, 64), 1);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->num_levels(), 1u);
}

TEST(CompileUnrotated, VariationOnlyInTheDroppedColumnLeavesLevelZero) {
    std::vector<std::uint8_t> px(9 * 8, 100);
    for (std::size_t y = 0; y < 8; ++y) px[y * 9 + 8] = static_cast<std::uint8_t>(y % 2 ? 255 : 0);
    auto compiled = CompiledTemplate::compile_unrotated(expect_ok(Template::create(px, 9, 8), "tpl"), 6);
    ASSERT_TRUE(compiled);
    EXPECT_EQ(compiled->num_levels(), 1u);
}

TEST(CompileUnrotated, CoarsestLevelNeedsThirtyTwoPixels) {
    struct Case {
        std::size_t w, h, levels;
    };
    // 64x2 reduces to 32x1 (kept); 62x2 to 31x1 (removed); level 0 stays however small.
    for (Case c : {Case{64, 2, 2}, Case{62, 2, 1}, Case{2, 2, 1}}) {
        const Template tpl = textured_template(c.w, c.h);
        auto compiled = CompiledTemplate::compile_unrotated(tpl, 6);
        ASSERT_TRUE(compiled) << c.w;
        EXPECT_EQ(compiled->num_levels(), c.levels) << c.w;
    }
    // The 31x1 level is removed for its size, not for flatness.
    auto pyramid = expect_ok(ImagePyramid::build_u8(textured_template(62, 2).view(), 2), "pyramid");
    EXPECT_TRUE(TemplatePlan::from_view(pyramid.levels[1].view()));
}

TEST(CompileRotated, TexturedSixtyFourWithDefaults) {
    auto compiled = CompiledTemplate::compile_rotated(textured_template(64, 64), CompileConfig{});
    ASSERT_TRUE(compiled);
    const CompiledTemplateRot* rot = compiled->with_rotation();
    ASSERT_NE(rot, nullptr);
    EXPECT_TRUE(compiled->has_angle_banks());
    // 64, 32, 16, 8: the 2x2 level is too thin, the 4x4 one too sparse.
    ASSERT_EQ(compiled->num_levels(), 4u);
    ASSERT_EQ(rot->banks.size(), 4u);
    const float steps[] = {1.25f, 2.5f, 5.0f, 10.0f};
    const std::size_t counts[] = {288, 144, 72, 36};
    for (std::size_t l = 0; l < 4; ++l) {
        EXPECT_EQ(compiled->levels()[l].width(), 64u >> l);
        EXPECT_EQ(rot->banks[l].grid.step_deg, steps[l]) << l;
        EXPECT_EQ(rot->banks[l].grid.count, counts[l]) << l;
        EXPECT_EQ(filled_slots(rot->banks[l]), l == 3 ? 36u : 0u) << l;
    }
    EXPECT_EQ(rot->config.max_levels, 6u);
    EXPECT_TRUE(rot->config.precompute_coarsest);
}

TEST(CompileRotated, WithoutPrecomputeSlotsFillOnFirstRequest) {
    auto compiled = CompiledTemplate::compile_rotated(textured_template(64, 64), config_with(false));
    ASSERT_TRUE(compiled);
    const CompiledTemplateRot* rot = compiled->with_rotation();
    ASSERT_EQ(rot->banks.size(), 4u);
    for (const LevelBank& bank : rot->banks) EXPECT_EQ(filled_slots(bank), 0u);

    auto first = compiled->rotated(3, 7);
    ASSERT_TRUE(first);
    auto second = compiled->rotated(3, 7);
    ASSERT_TRUE(second);
    EXPECT_EQ(*first, *second);
    EXPECT_EQ(rot->banks[3].rotations[7].get(), *first);
    EXPECT_EQ(filled_slots(rot->banks[3]), 1u);
    // Index 7 of the 10-degree grid is -110 degrees; the rotation has the level's 8x8 box.
    EXPECT_EQ((*first)->zncc_plan.width, 8u);
    EXPECT_EQ((*first)->zncc_plan.height, 8u);
    EXPECT_EQ((*first)->zncc_plan.coords.size(), valid_pixels(64, 64, 3, -110.0f));
}

TEST(CompileRotated, PrecomputedSlotsHoldWhatALazyBuildGives) {
    const Template tpl = textured_template(48, 40);
    auto eager = CompiledTemplate::compile_rotated(tpl, config_with(true));
    auto lazy = CompiledTemplate::compile_rotated(tpl, config_with(false));
    ASSERT_TRUE(eager);
    ASSERT_TRUE(lazy);
    ASSERT_EQ(eager->num_levels(), lazy->num_levels());
    const std::size_t c = eager->num_levels() - 1;
    const LevelBank& bank = eager->with_rotation()->banks[c];
    for (std::size_t i = 0; i < bank.grid.count; ++i) {
        const RotatedTemplate* stored = bank.rotations[i].get();
        ASSERT_NE(stored, nullptr) << i;
        auto built = lazy->rotated(c, i);
        ASSERT_TRUE(built) << i;
        EXPECT_EQ(stored->zncc_plan.coords, (*built)->zncc_plan.coords) << i;
        EXPECT_EQ(stored->zncc_plan.values, (*built)->zncc_plan.values) << i;
        EXPECT_EQ(stored->ssd_plan.values, (*built)->ssd_plan.values) << i;
    }
}

TEST(CompileRotated, IndexErrors) {
    auto compiled = CompiledTemplate::compile_rotated(textured_template(64, 64), config_with(false));
    ASSERT_TRUE(compiled);
    auto bad_level = compiled->rotated(4, 0);
    ASSERT_FALSE(bad_level);
    EXPECT_EQ(bad_level.error().message(), "index out of bounds: level index=4 len=4");
    auto bad_angle = compiled->rotated(0, 288);
    ASSERT_FALSE(bad_angle);
    EXPECT_EQ(bad_angle.error().message(), "index out of bounds: angle_idx index=288 len=288");
}

TEST(CompileRotated, DegenerateTemplates) {
    EXPECT_EQ(rotated_error(textured_template(2, 2)), "degenerate template: template too small for rotation");
    EXPECT_EQ(rotated_error(constant_template(3, 3, 90)), "degenerate template: zero variance");
    EXPECT_EQ(rotated_error(constant_template(64, 64, 90)), "degenerate template: zero variance");
}

TEST(CompileRotated, CoarsestLevelNeedsThirtyTwoValidPixelsAtEveryAngle) {
    // 16x13: level 1 is 8x6 with at least 32 valid pixels at every angle, and is kept.
    // 28x28: level 2 is 7x7, 49 pixels, but only 31 valid at some angle, and is removed.
    ASSERT_EQ(fewest_valid_pixels(16, 13, 1), 32u);
    ASSERT_EQ(fewest_valid_pixels(28, 28, 2), 31u);
    struct Case {
        std::size_t w, h, levels;
    };
    for (bool precompute : {true, false}) {
        for (Case c : {Case{16, 13, 2}, Case{28, 28, 2}}) {
            auto compiled = CompiledTemplate::compile_rotated(textured_template(c.w, c.h), config_with(precompute));
            ASSERT_TRUE(compiled) << c.w;
            EXPECT_EQ(compiled->num_levels(), c.levels) << c.w << " precompute " << precompute;
        }
    }
}

TEST(CompileRotated, LevelZeroAloneIsKeptAndBuiltOnlyWhenAsked) {
    // Flat but for the last row and column, which no angle-0 sample reaches: the rotation at
    // 0 degrees (index 18) sees a flat region.
    const std::vector<std::uint8_t> px = {5, 5, 9, 5, 5, 9, 9, 9, 9};
    const Template tpl = expect_ok(Template::create(px, 3, 3), "tpl");
    auto lazy = CompiledTemplate::compile_rotated(tpl, config_with(false));
    ASSERT_TRUE(lazy);
    EXPECT_EQ(lazy->num_levels(), 1u);
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto r = lazy->rotated(0, 18);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message(), "degenerate template: template variance too small");
    }
    EXPECT_EQ(lazy->with_rotation()->banks[0].rotations[18].get(), nullptr);

    // Precomputing level 0 fails with the error of the lowest failing angle.
    std::string first_failure;
    for (std::size_t i = 0; i < 36 && first_failure.empty(); ++i) {
        auto r = lazy->rotated(0, i);
        if (!r) first_failure = r.error().message();
    }
    EXPECT_EQ(rotated_error(tpl, config_with(true)), first_failure);
}

TEST(CompileRotated, EverySizeCompilesWithAUsableCoarsestLevel) {
    std::vector<std::size_t> sides;
    for (std::size_t s = 6; s <= 70; ++s) sides.push_back(s);
    for (std::size_t s : {96, 100, 128}) sides.push_back(s);
    for (bool precompute : {true, false}) {
        for (std::size_t side : sides) {
            auto compiled = CompiledTemplate::compile_rotated(textured_template(side, side), config_with(precompute));
            ASSERT_TRUE(compiled) << side << ": " << compiled.error().message();
            const std::size_t c = compiled->num_levels() - 1;
            EXPECT_GE(compiled->levels()[c].width(), 3u) << side;
            const LevelBank& bank = compiled->with_rotation()->banks[c];
            EXPECT_EQ(filled_slots(bank), precompute ? bank.grid.count : 0u) << side;
            for (std::size_t i = 0; i < bank.grid.count; ++i) {
                auto r = compiled->rotated(c, i);
                ASSERT_TRUE(r) << side << " angle " << i;
                if (c > 0) {
                    EXPECT_GE((*r)->zncc_plan.coords.size(), kMinCoarsestPixels) << side << " angle " << i;
                }
            }
        }
    }
}

TEST(CompileRotated, RefusesAnAbsurdGridBeforeBuildingIt) {
    CompileConfig config;
    config.coarse_step_deg = 1e-6f;
    config.min_step_deg = 1e-6f;
    const std::string reason = "invalid config: angle step below 0.001 degrees: an angle grid would hold more than 360000 angles";
    EXPECT_EQ(rotated_error(textured_template(64, 64), config), reason);
    // A minimum the levels never halve down to is harmless: 10 / 2^3 is the finest step here.
    config.coarse_step_deg = 10.0f;
    config.min_step_deg = 1e-8f;
    EXPECT_TRUE(CompiledTemplate::compile_rotated(textured_template(64, 64), config));
}

TEST(CompileRotated, ConcurrentRequestsForOneSlotShareOneObject) {
    auto compiled = CompiledTemplate::compile_rotated(textured_template(64, 64), config_with(false));
    ASSERT_TRUE(compiled);
    constexpr int kThreads = 12;
    std::latch start(kThreads);
    std::vector<const RotatedTemplate*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            auto r = compiled->rotated(1, 40);
            if (r) seen[t] = *r;
        });
    }
    for (auto& thread : threads) thread.join();
    const RotatedTemplate* stored = compiled->with_rotation()->banks[1].rotations[40].get();
    ASSERT_NE(stored, nullptr);
    for (const RotatedTemplate* p : seen) EXPECT_EQ(p, stored);
}

class SpanRecorder : public trace::Subscriber {
public:
    void enter(std::string_view span, trace::Fields fields) override {
        std::string entry(span);
        for (const trace::Field& f : fields) {
            entry.append(" ").append(f.name).append("=");
            std::visit([&](auto v) { entry += std::to_string(v); }, f.value);
        }
        entered.push_back(entry);
    }
    void exit(std::string_view) override {}
    void event(std::string_view, trace::Fields) override {}
    std::vector<std::string> entered;
};

TEST(CompileSpans, NameTheCompileAndThePrecompute) {
    SpanRecorder recorder;
    trace::set_subscriber(&recorder);
    ASSERT_TRUE(CompiledTemplate::compile_unrotated(textured_template(32, 32), 5));
    ASSERT_TRUE(CompiledTemplate::compile_rotated(textured_template(64, 64), CompileConfig{}));
    trace::set_subscriber(nullptr);
    ASSERT_GE(recorder.entered.size(), 3u);
    EXPECT_EQ(recorder.entered[0], "compile_template rotation=0 max_levels=5");
    EXPECT_EQ(recorder.entered[1], "compile_template rotation=1 max_levels=6");
    EXPECT_EQ(recorder.entered.back(), "precompute_rotations count=36");
}

}  // namespace
}  // namespace quillet
