// Regular angle grids over [-180, 180): one per template level, coarser levels coarser steps.
#pragma once

#include <utility>
#include <vector>

#include "core/util/error.hpp"

namespace quillet {

// No grid holds more angles than this, the full circle at a 0.001-degree step. Every grid costs
// one rotation slot per angle, and finer steps buy nothing measurable; at subnormal steps
// merely counting the angles would not finish.
inline constexpr std::size_t kMaxGridAngles = 360000;

struct AngleGrid {
    std::size_t count = 0;
    float start_deg = -180.0f;
    float end_deg = 180.0f;
    float step_deg = 0.0f;

    static Result<AngleGrid> create(float start_deg, float end_deg, float step_deg);

    // wrap_deg(i * step + start), in 32-bit floats; angles are never stored.
    float angle_at(std::size_t i) const;
    std::vector<std::pair<std::size_t, float>> iter() const;
    // Ascending indices whose circular distance to center_deg is at most half_range_deg.
    std::vector<std::size_t> indices_within(float center_deg, float half_range_deg) const;
};

// Whether [start_deg, end_deg) at step_deg would hold more than kMaxGridAngles angles, judged
// from (end - start) / step in 64-bit floats before any counting. Expects finite values, step > 0.
bool grid_exceeds_max_angles(float start_deg, float end_deg, float step_deg);

// Into [-180, 180): 180 -> -180, 190 -> -170, -190 -> 170.
float wrap_deg(float a);

// The step of `level` in a template of `num_levels` levels: coarse at the coarsest level,
// halved per finer level, never below min_step_deg.
float level_step_deg(float coarse_step_deg, float min_step_deg, std::size_t num_levels, std::size_t level);

}  // namespace quillet
