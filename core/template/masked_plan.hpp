// Masked template plans: the valid pixels of a rotated template, as coordinate lists, so
// that the masked kernels visit exactly those pixels.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/image/image.hpp"

namespace quillet {

struct ValidCoord {
    std::uint32_t x;
    std::uint32_t y;
    bool operator==(const ValidCoord&) const = default;
};

struct MaskedTemplatePlan {
    std::vector<ValidCoord> coords;  // row-major order
    std::vector<float> values;       // pixel - mean of the valid pixels, 32-bit arithmetic
    std::size_t width = 0;
    std::size_t height = 0;
    float n_valid = 0.0f;
    float var_sum = 0.0f;

    // `mask` is width * height bytes, tightly packed; non-zero marks a valid pixel.
    static Result<MaskedTemplatePlan> from_rotated_parts(const ImageView& image, std::span<const std::uint8_t> mask);
};

struct MaskedSsdTemplatePlan {
    std::vector<ValidCoord> coords;
    std::vector<float> values;  // raw pixel values
    std::size_t width = 0;
    std::size_t height = 0;

    static Result<MaskedSsdTemplatePlan> from_rotated_parts(const ImageView& image, std::span<const std::uint8_t> mask);
};

}  // namespace quillet
