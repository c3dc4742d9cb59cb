// Loading template images from PNG and JPEG files as 8-bit luminance.
#pragma once

#include <string>

#include "core/image/image.hpp"

namespace quillet {

// The format is chosen from the file name's extension (ASCII case ignored). Every open or
// decode failure is ImageIo with a one-line reason.
Result<OwnedImage> load_gray_image(const std::string& path);

}  // namespace quillet
