#include "core/search/records.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

namespace quillet {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

TEST(MatchConfig, DefaultsMatchTheDocumentedValues) {
    const MatchConfig c;
    EXPECT_EQ(c.metric, Metric::Zncc);
    EXPECT_EQ(c.rotation, RotationMode::Disabled);
    EXPECT_FALSE(c.parallel);
    EXPECT_EQ(c.max_image_levels, 6u);
    EXPECT_EQ(c.beam_width, 8u);
    EXPECT_EQ(c.per_angle_topk, 3u);
    EXPECT_EQ(c.nms_radius, 6u);
    EXPECT_EQ(c.roi_radius, 8u);
    EXPECT_EQ(c.angle_half_range_steps, 1u);
    EXPECT_EQ(c.min_var_i, 1e-8f);
    EXPECT_EQ(c.min_score, -kInf);
    EXPECT_EQ(static_cast<int>(Metric::Ssd), 1);
    EXPECT_EQ(static_cast<int>(RotationMode::Enabled), 1);
    EXPECT_TRUE(c.validate().has_value());
}

TEST(MatchConfig, Validate) {
    struct Case {
        const char* what;
        std::function<void(MatchConfig&)> edit;
        const char* error;  // nullptr: accepted
    };
    const Case cases[] = {
        {"zero radii", [](MatchConfig& c) { c.nms_radius = c.roi_radius = c.angle_half_range_steps = 0; }, nullptr},
        {"beam_width 0", [](MatchConfig& c) { c.beam_width = 0; }, "beam_width must be at least 1"},
        {"first check wins", [](MatchConfig& c) { c.beam_width = 0; c.max_image_levels = 0; }, "beam_width must be at least 1"},
        {"per_angle_topk 0", [](MatchConfig& c) { c.per_angle_topk = 0; }, "per_angle_topk must be at least 1"},
        {"max_image_levels 0", [](MatchConfig& c) { c.max_image_levels = 0; }, "max_image_levels must be at least 1"},
        {"min_var_i -0", [](MatchConfig& c) { c.min_var_i = -0.0f; }, nullptr},
        {"min_var_i 0", [](MatchConfig& c) { c.min_var_i = 0.0f; }, nullptr},
        {"min_var_i negative subnormal", [](MatchConfig& c) { c.min_var_i = -1e-45f; }, "min_var_i must be a non-negative finite value"},
        {"min_var_i NaN", [](MatchConfig& c) { c.min_var_i = kNan; }, "min_var_i must be a non-negative finite value"},
        {"min_var_i +inf", [](MatchConfig& c) { c.min_var_i = kInf; }, "min_var_i must be a non-negative finite value"},
        {"min_score -inf", [](MatchConfig& c) { c.min_score = -kInf; }, nullptr},
        {"min_score finite", [](MatchConfig& c) { c.min_score = -3.5f; }, nullptr},
        {"min_score +inf", [](MatchConfig& c) { c.min_score = kInf; }, "min_score must be finite or NEG_INFINITY"},
        {"min_score NaN", [](MatchConfig& c) { c.min_score = kNan; }, "min_score must be finite or NEG_INFINITY"},
    };
    for (const Case& c : cases) {
        MatchConfig config;
        c.edit(config);
        auto status = config.validate();
        if (c.error == nullptr) {
            EXPECT_TRUE(status.has_value()) << c.what;
            continue;
        }
        ASSERT_FALSE(status.has_value()) << c.what;
        ASSERT_TRUE(status.error().is<err::InvalidConfig>()) << c.what;
        EXPECT_EQ(status.error().message(), std::string("invalid config: ") + c.error) << c.what;
    }
}

}  // namespace
}  // namespace quillet
