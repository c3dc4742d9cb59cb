#include "core/template/template.hpp"

namespace quillet {

Result<Template> Template::create(std::vector<std::uint8_t> data, std::size_t width, std::size_t height) {
    auto image = OwnedImage::create(std::move(data), width, height);
    if (!image) return std::unexpected(image.error());
    return Template(std::move(*image));
}

}  // namespace quillet
