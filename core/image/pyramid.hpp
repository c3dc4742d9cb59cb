// 2x2 box pyramids: level 0 is a packed copy of the input, each further level halves the last.
#pragma once

#include <vector>

#include "core/image/image.hpp"

namespace quillet {

struct ImagePyramid {
    std::vector<OwnedImage> levels;  // never empty

    // Adds levels while the last one is at least 2x2, up to max(max_levels, 1) levels.
    static Result<ImagePyramid> build_u8(const ImageView& view, std::size_t max_levels);
};

// Integer 2x2 box average, rounding half up; odd last rows and columns are dropped.
Result<OwnedImage> downsample_u8_2x2_box(const ImageView& src);

}  // namespace quillet
