#include "core/template/template.hpp"

namespace quillet {

Result<Template> Template::create(std::vector<std::uint8_t> data, std::size_t width, std::size_t height) {
    return OwnedImage::create(std::move(data), width, height).transform([](OwnedImage img) { return Template(std::move(img)); });
}

}  // namespace quillet
