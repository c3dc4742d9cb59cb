#include "core/refine/quad1d.hpp"

#include <cmath>

namespace quillet {

namespace {

// Curvatures flatter than this give vertices dominated by rounding noise.
constexpr float kMinCurvature = 1e-6f;

}  // namespace

std::optional<float> quad_peak_offset_1d(float s_minus, float s_zero, float s_plus) {
    if (!std::isfinite(s_minus) || !std::isfinite(s_zero) || !std::isfinite(s_plus)) return std::nullopt;
    const float denom = (s_minus - (s_zero + s_zero)) + s_plus;
    if (denom >= 0.0f) return std::nullopt;  // flat or a valley: no maximum
    if (std::fabs(denom) < kMinCurvature) return std::nullopt;
    const float offset = ((s_minus - s_plus) * 0.5f) / denom;
    if (!std::isfinite(offset) || std::fabs(offset) > 1.0f) return std::nullopt;
    return offset;
}

}  // namespace quillet
