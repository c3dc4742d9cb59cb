#include "core/bank/angles.hpp"

#include <algorithm>
#include <cmath>

namespace quillet {

Result<AngleGrid> AngleGrid::create(float start_deg, float end_deg, float step_deg) {
    // Non-finite bounds would keep the counting loop below from ever stopping.
    if (!std::isfinite(step_deg) || !std::isfinite(start_deg) || !std::isfinite(end_deg)) {
        return fail(err::InvalidAngleGrid{"non-finite angle grid parameters"});
    }
    if (step_deg <= 0.0f) return fail(err::InvalidAngleGrid{"step_deg must be > 0"});
    if (grid_exceeds_max_angles(start_deg, end_deg, step_deg)) {
        return fail(err::InvalidAngleGrid{"too many angles (at most 360000)"});
    }
    std::size_t count = 0;
    while (static_cast<float>(count) * step_deg + start_deg < end_deg) ++count;
    if (count == 0) return fail(err::InvalidAngleGrid{"angle grid produced no samples"});
    return AngleGrid{count, start_deg, end_deg, step_deg};
}

float AngleGrid::angle_at(std::size_t i) const {
    const float product = static_cast<float>(i) * step_deg;
    return wrap_deg(product + start_deg);
}

std::vector<std::pair<std::size_t, float>> AngleGrid::iter() const {
    std::vector<std::pair<std::size_t, float>> pairs;
    pairs.reserve(count);
    for (std::size_t i = 0; i < count; ++i) pairs.emplace_back(i, angle_at(i));
    return pairs;
}

std::vector<std::size_t> AngleGrid::indices_within(float center_deg, float half_range_deg) const {
    std::vector<std::size_t> indices;
    if (half_range_deg < 0.0f) return indices;
    for (std::size_t i = 0; i < count; ++i) {
        const float delta = wrap_deg(angle_at(i) - center_deg);
        if (std::fabs(delta) <= half_range_deg) indices.push_back(i);
    }
    return indices;
}

bool grid_exceeds_max_angles(float start_deg, float end_deg, float step_deg) {
    const double span = static_cast<double>(end_deg) - static_cast<double>(start_deg);
    return span / static_cast<double>(step_deg) > static_cast<double>(kMaxGridAngles);
}

float wrap_deg(float a) {
    float m = std::fmod(a, 360.0f);
    if (m < -180.0f) m = m + 360.0f;
    if (m >= 180.0f) m = m - 360.0f;
    return m;
}

float level_step_deg(float coarse_step_deg, float min_step_deg, std::size_t num_levels, std::size_t level) {
    const std::size_t e = std::min<std::size_t>((num_levels - 1) - level, 64);
    const float d = std::ldexp(1.0f, static_cast<int>(e));
    const float s = coarse_step_deg / d;
    return std::fmax(s, min_step_deg);
}

}  // namespace quillet
