// Bilinear rotation about the image centre with a validity mask. Positive angles turn the
// content clockwise on screen (x right, y down).
#pragma once

#include <cstdint>
#include <vector>

#include "core/image/image.hpp"

namespace quillet {

struct RotatedImage {
    OwnedImage image;                 // same size as the source
    std::vector<std::uint8_t> mask;   // width * height bytes: 1 where the 2x2 footprint was inside
};

// All arithmetic in 32-bit floats in a fixed order, so results are reproducible bit for bit.
// A pixel is valid exactly when its source position lies in [0, W-1) x [0, H-1).
RotatedImage rotate_u8_bilinear_masked(const ImageView& view, std::uint8_t fill_value, float angle_deg);

}  // namespace quillet
