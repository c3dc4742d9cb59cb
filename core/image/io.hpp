// Loading template images from PNG and JPEG files as 8-bit luminance.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/image/image.hpp"

namespace quillet {

// Files with more pixels than this (2^26, for instance 8192 x 8192) are refused before any
// pixel buffer is allocated. Decoding keeps at most a few bytes per pixel alive at once, so
// the bound also caps the memory a hostile file can make the loader take.
inline constexpr std::uint64_t kMaxLoadPixels = std::uint64_t{1} << 26;

// What a decoder hands back: width * height luminance bytes, row-major without gaps.
struct LumaImage {
    std::vector<std::uint8_t> pixels;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The format is chosen from the file name's extension, ASCII case ignored: .png, .jpg, .jpeg.
// Colour is reduced to luminance with ITU-R BT.601 weights (PNG: (77 R + 150 G + 29 B + 128)
// >> 8, so gray pixels stay unchanged; JPEG: the decoder's own BT.601 conversion), alpha is
// dropped and 16-bit PNG samples keep their high byte. Every open or decode failure is ImageIo
// with a one-line reason; a file that cannot be opened reads like
// "No such file or directory (os error 2)".
Result<OwnedImage> load_gray_image(const std::string& path);

// Checks a decoder's output against its stated size and takes it over as an OwnedImage.
Result<OwnedImage> owned_from_dynamic_image(LumaImage image);

}  // namespace quillet
