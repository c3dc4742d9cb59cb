// The template image a caller wants to find: an owned, tightly packed grayscale image.
#pragma once

#include <cstdint>
#include <vector>

#include "core/image/image.hpp"

namespace quillet {

class Template {
public:
    // Same checks as OwnedImage::create; a longer buffer is refused, not truncated.
    static Result<Template> create(std::vector<std::uint8_t> data, std::size_t width, std::size_t height);

    std::size_t width() const { return image_.width(); }
    std::size_t height() const { return image_.height(); }
    ImageView view() const { return image_.view(); }

private:
    explicit Template(OwnedImage image) : image_(std::move(image)) {}
    OwnedImage image_;
};

}  // namespace quillet
