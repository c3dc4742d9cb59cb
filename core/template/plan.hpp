// Unmasked template plans: the per-level forms of a template that the unmasked kernels read.
#pragma once

#include <vector>

#include "core/image/image.hpp"

namespace quillet {

// ZNCC plan: zero-mean values (pixel - mean, mean rounded once to 32 bits) and the
// squared-deviation sum from 64-bit moments. Refuses near-flat templates.
struct TemplatePlan {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<float> values;  // width * height, row-major
    float var_sum = 0.0f;

    static Result<TemplatePlan> from_view(const ImageView& view);
};

// SSD plan: the pixel values as floats.
struct SsdTemplatePlan {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<float> values;  // width * height, row-major

    static Result<SsdTemplatePlan> from_view(const ImageView& view);
};

}  // namespace quillet
