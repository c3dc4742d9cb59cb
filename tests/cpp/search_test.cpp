#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "core/search/matcher.hpp"
#include "scenes.hpp"

namespace quillet {
namespace {

using testing::Gray;
using testing::textured;

std::shared_ptr<const CompiledTemplate> compile_plain(const Gray& g, std::size_t max_levels = 6) {
    auto tpl = expect_ok(Template::create(g.pixels, g.width, g.height), "template");
    return std::make_shared<const CompiledTemplate>(expect_ok(CompiledTemplate::compile_unrotated(tpl, max_levels), "compile"));
}

MatchConfig config_for(Metric metric, bool parallel) {
    MatchConfig c;
    c.metric = metric;
    c.parallel = parallel;
    return c;
}

struct Variant {
    Metric metric;
    bool parallel;
};

class UnrotatedSearch : public ::testing::TestWithParam<Variant> {};

// A 200x160 scene with a separately generated 32x32 template pasted at odd positions.
struct PastedScene {
    Gray scene = textured(200, 160, 1);
    Gray tpl = textured(32, 32, 2);
    PastedScene() {
        testing::paste(scene, tpl, 37, 51);
        testing::paste(scene, tpl, 141, 13);
        testing::paste(scene, tpl, 90, 117);
    }
};

TEST_P(UnrotatedSearch, FindsPastedTemplateExactly) {
    PastedScene s;
    Gray scene = textured(200, 160, 1);
    testing::paste(scene, s.tpl, 37, 51);
    Matcher m(compile_plain(s.tpl), config_for(GetParam().metric, GetParam().parallel));
    // The best level-0 candidate is the exact placement; the parabola fit then moves it by
    // less than the asymmetry of the correlation peak.
    auto candidates = m.match_candidates_with_cfg(scene.view(), m.config());
    ASSERT_TRUE(candidates) << candidates.error().message();
    EXPECT_EQ(candidates->front().x, 37u);
    EXPECT_EQ(candidates->front().y, 51u);
    auto match = m.match_image(scene.view());
    ASSERT_TRUE(match) << match.error().message();
    EXPECT_NEAR(match->x, 37.0f, 0.3f);
    EXPECT_NEAR(match->y, 51.0f, 0.3f);
    EXPECT_EQ(match->angle_deg, 0.0f);
    if (GetParam().metric == Metric::Zncc)
        EXPECT_NEAR(match->score, 1.0f, 1e-5f);
    else
        EXPECT_EQ(match->score, 0.0f);
}

TEST_P(UnrotatedSearch, TopKReturnsDistinctInstancesBestFirst) {
    PastedScene s;
    Matcher m(compile_plain(s.tpl), config_for(GetParam().metric, GetParam().parallel));
    auto matches = m.match_image_topk(s.scene.view(), 3);
    ASSERT_TRUE(matches) << matches.error().message();
    ASSERT_EQ(matches->size(), 3u);
    std::vector<std::pair<float, float>> found;
    for (const Match& mt : *matches) found.emplace_back(std::round(mt.x), std::round(mt.y));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::pair<float, float>>{{37, 51}, {90, 117}, {141, 13}}));
    for (std::size_t i = 1; i < matches->size(); ++i) EXPECT_GE((*matches)[i - 1].score, (*matches)[i].score);
}

TEST_P(UnrotatedSearch, SubPixelShiftWithinATenthOfAPixel) {
    // Smooth texture, so that bilinear resampling is a faithful sub-pixel shift.
    Gray base = textured(160, 120, 7, 6);
    Gray tpl = testing::crop(base, 60, 40, 40, 40);
    for (auto [sx, sy] : {std::pair{0.3, 0.6}, std::pair{-0.4, 0.2}}) {
        Gray scene = testing::shifted(base, sx, sy);
        Matcher m(compile_plain(tpl), config_for(GetParam().metric, GetParam().parallel));
        auto match = m.match_image(scene.view());
        ASSERT_TRUE(match) << match.error().message();
        EXPECT_NEAR(match->x, 60 + sx, 0.1);
        EXPECT_NEAR(match->y, 40 + sy, 0.1);
    }
}

INSTANTIATE_TEST_SUITE_P(MetricsAndModes, UnrotatedSearch,
                         ::testing::Values(Variant{Metric::Zncc, false}, Variant{Metric::Zncc, true}, Variant{Metric::Ssd, false},
                                           Variant{Metric::Ssd, true}));

// The pasted scene with a noisy copy: the noise averages out at coarse levels but not at
// full resolution, so an SSD threshold between the two passes the coarse search and fails at
// level 0.
Gray scene_with_noisy_copy(const Gray& tpl) {
    Gray scene = textured(200, 160, 1);
    Gray noisy = tpl;
    std::uint32_t seed = 99;
    for (auto& p : noisy.pixels) {
        seed = seed * 1664525u + 1013904223u;
        p = static_cast<std::uint8_t>(std::clamp(int(p) + int(seed >> 27) - 16, 0, 255));
    }
    testing::paste(scene, noisy, 64, 64);
    return scene;
}

TEST(MatcherErrors, ReportedWithTheirTexts) {
    PastedScene s;
    const Gray noisy_scene = scene_with_noisy_copy(s.tpl);
    MatchConfig rotation, above_every_score, between_levels, invalid;
    rotation.rotation = RotationMode::Enabled;
    above_every_score.min_score = 1.5f;
    between_levels.metric = Metric::Ssd;
    between_levels.min_score = -20000.0f;
    invalid.beam_width = 0;
    const struct {
        MatchConfig config;
        const Gray& scene;
        const char* message;
    } cases[] = {
        {rotation, s.scene, "rotation unavailable: rotation enabled but template compiled without angle banks"},
        {above_every_score, s.scene, "no candidates: no coarse candidates"},
        {between_levels, noisy_scene, "no candidates: no candidates after refinement"},
        {invalid, s.scene, "invalid config: beam_width must be at least 1"},
    };
    for (const auto& c : cases) {
        const Matcher m(compile_plain(s.tpl), c.config);
        auto best = m.match_image(c.scene.view());
        ASSERT_FALSE(best) << c.message;
        EXPECT_EQ(best.error().message(), c.message);
        auto top = m.match_image_topk(c.scene.view(), 2);
        ASSERT_FALSE(top) << c.message;
        EXPECT_EQ(top.error().message(), c.message);
    }
    // Even k = 0, which does not search, checks the configuration.
    EXPECT_EQ(Matcher(compile_plain(s.tpl), invalid).match_image_topk(s.scene.view(), 0).error().message(),
              "invalid config: beam_width must be at least 1");
}

TEST(MatcherLevels, TemplateAndImagePyramidsOfDifferentDepths) {
    PastedScene s;
    Gray scene = textured(200, 160, 1);
    testing::paste(scene, s.tpl, 37, 51);
    MatchConfig shallow_image;
    shallow_image.max_image_levels = 2;  // template has more levels than the image pyramid
    for (const auto& [compiled, config] : {std::pair{compile_plain(s.tpl, 6), shallow_image},
                                           std::pair{compile_plain(s.tpl, 1), MatchConfig{}},  // one usable level
                                           std::pair{compile_plain(s.tpl, 2), MatchConfig{}}}) {
        auto candidates = Matcher(compiled, config).match_candidates_with_cfg(scene.view(), config);
        ASSERT_TRUE(candidates) << candidates.error().message();
        EXPECT_EQ(candidates->front().x, 37u);
        EXPECT_EQ(candidates->front().y, 51u);
    }
}

TEST(MatcherLevels, TopKZeroDoesNotSearch) {
    PastedScene s;
    Matcher m(compile_plain(s.tpl), MatchConfig{});
    Gray tiny = textured(4, 4, 3);  // would fail if it were searched
    auto r = m.match_image_topk(tiny.view(), 0);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->empty());
}

TEST(MatcherParallel, CandidatesIdenticalAcrossThreadCounts) {
    PastedScene s;
    for (Metric metric : {Metric::Zncc, Metric::Ssd}) {
        Matcher m(compile_plain(s.tpl), config_for(metric, true));
        std::vector<std::vector<Candidate>> runs;
        for (int threads : {1, 2, 4}) {
            tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
            runs.push_back(expect_ok(m.match_candidates_with_cfg(s.scene.view(), m.config()), "search"));
        }
        for (const auto& run : runs) {
            ASSERT_EQ(run.size(), runs[0].size());
            for (std::size_t i = 0; i < run.size(); ++i) {
                EXPECT_EQ(run[i].x, runs[0][i].x);
                EXPECT_EQ(run[i].y, runs[0][i].y);
                EXPECT_EQ(std::bit_cast<std::uint32_t>(run[i].score), std::bit_cast<std::uint32_t>(runs[0][i].score));
            }
        }
    }
}

TEST(MatcherParallel, SerialAndParallelAgreeOnClearCutScene) {
    PastedScene s;
    for (Metric metric : {Metric::Zncc, Metric::Ssd}) {
        auto serial = expect_ok(Matcher(compile_plain(s.tpl), config_for(metric, false)).match_image_topk(s.scene.view(), 3), "serial");
        auto parallel = expect_ok(Matcher(compile_plain(s.tpl), config_for(metric, true)).match_image_topk(s.scene.view(), 3), "parallel");
        ASSERT_EQ(serial.size(), parallel.size());
        for (std::size_t i = 0; i < serial.size(); ++i) {
            EXPECT_NEAR(serial[i].x, parallel[i].x, 1e-3f);
            EXPECT_NEAR(serial[i].y, parallel[i].y, 1e-3f);
        }
    }
}

}  // namespace
}  // namespace quillet
