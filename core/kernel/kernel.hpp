// The scoring interface shared by the four kernels, and the rectangle of placements a scan visits.
#pragma once

#include <concepts>
#include <cstddef>
#include <limits>

#include "core/image/image.hpp"

namespace quillet {

// Inclusive rectangle of placements; scans clamp it to the valid placements.
struct ScanRegion {
    std::size_t x0 = 0;
    std::size_t y0 = 0;
    std::size_t x1 = std::numeric_limits<std::size_t>::max();
    std::size_t y1 = std::numeric_limits<std::size_t>::max();

    static constexpr ScanRegion full() { return {}; }
};

inline constexpr float kNoScore = -std::numeric_limits<float>::infinity();

// A kernel scores one placement of its plan type; negative infinity means "no score"
// (invalid placement, flat window, non-finite arithmetic). SSD kernels ignore min_var_i.
template <class K>
concept Kernel = requires(const ImageView& image, const typename K::Plan& plan, std::size_t x, std::size_t y, float min_var_i) {
    { K::score_at(image, plan, x, y, min_var_i) } -> std::same_as<float>;
};

}  // namespace quillet
