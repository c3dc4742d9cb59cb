// The match configuration and the records passed between search stages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/util/error.hpp"

namespace quillet {

enum class Metric : std::uint8_t { Zncc = 0, Ssd = 1 };
enum class RotationMode : std::uint8_t { Disabled = 0, Enabled = 1 };

struct MatchConfig {
    Metric metric = Metric::Zncc;
    RotationMode rotation = RotationMode::Disabled;
    bool parallel = false;
    std::size_t max_image_levels = 6;
    std::size_t beam_width = 8;
    std::size_t per_angle_topk = 3;
    std::size_t nms_radius = 6;
    std::size_t roi_radius = 8;
    std::size_t angle_half_range_steps = 1;
    float min_var_i = 1e-8f;
    float min_score = -std::numeric_limits<float>::infinity();

    Status validate() const;
};

// One hypothesis carried from the coarsest level down to level 0.
struct Candidate {
    std::size_t level = 0;
    std::size_t x = 0;
    std::size_t y = 0;
    std::size_t angle_idx = 0;
    float angle_deg = 0.0f;
    float score = 0.0f;
};

struct Match {
    float x = 0.0f;
    float y = 0.0f;
    float angle_deg = 0.0f;
    float score = 0.0f;
};

}  // namespace quillet
