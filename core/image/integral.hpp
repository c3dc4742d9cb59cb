// Summed-area tables of pixel values and squared values, (W + 1) x (H + 1) entries each.
// The entries are exact 64-bit integers: 32-bit float tables lose the window variance as
// soon as entries pass 2^24, which happens on any realistic image.
#pragma once

#include <cstdint>
#include <vector>

#include "core/image/image.hpp"

namespace quillet {

struct IntegralImages {
    std::vector<std::uint64_t> sum;     // entry y * stride + x = sum of pixel(i, j), i < x, j < y
    std::vector<std::uint64_t> sum_sq;  // same, of pixel^2
    std::size_t width = 0;
    std::size_t height = 0;
    std::size_t stride = 0;  // width + 1

    static Result<IntegralImages> from_u8(const ImageView& view);

    // Exact window sums of the w x h window at (x, y), each rounded once to a float.
    // Aborts when the window is outside the tables (integrals of another image).
    float window_sum(std::size_t x, std::size_t y, std::size_t w, std::size_t h) const;
    float window_sum_sq(std::size_t x, std::size_t y, std::size_t w, std::size_t h) const;
};

}  // namespace quillet
