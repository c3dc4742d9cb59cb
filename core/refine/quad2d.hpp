// Sub-pixel position from a 3x3 neighbourhood of scores.
#pragma once

#include <array>
#include <cstddef>

namespace quillet {

struct SubpixelPos {
    float x = 0.0f;
    float y = 0.0f;
};

// `scores` is row-major, index (dy + 1) * 3 + (dx + 1), centred on the integer position
// (x, y). Each axis is fitted on its own through the centre and its two edge neighbours;
// an axis without a reliable fit keeps its integer coordinate. Corners are ignored.
SubpixelPos refine_subpixel_2d(std::size_t x, std::size_t y, const std::array<float, 9>& scores);

}  // namespace quillet
