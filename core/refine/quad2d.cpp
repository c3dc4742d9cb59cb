#include "core/refine/quad2d.hpp"

#include "core/refine/quad1d.hpp"

namespace quillet {

SubpixelPos refine_subpixel_2d(std::size_t x, std::size_t y, const std::array<float, 9>& scores) {
    const float centre = scores[4];
    const float dx = quad_peak_offset_1d(scores[3], centre, scores[5]).value_or(0.0f);
    const float dy = quad_peak_offset_1d(scores[1], centre, scores[7]).value_or(0.0f);
    return SubpixelPos{static_cast<float>(x) + dx, static_cast<float>(y) + dy};
}

}  // namespace quillet
