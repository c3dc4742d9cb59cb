// Sub-step peak position from three equally spaced samples.
#pragma once

#include <optional>

namespace quillet {

// Vertex offset, in steps from the centre sample (positive toward `s_plus`), of the parabola
// through (-1, s_minus), (0, s_zero), (1, s_plus). Absent when a sample is not finite, the
// samples do not describe a clear maximum, or the vertex lies more than one step away.
std::optional<float> quad_peak_offset_1d(float s_minus, float s_zero, float s_plus);

}  // namespace quillet
