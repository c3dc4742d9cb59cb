// Templates shared by the compiled-template bank tests.
#pragma once

#include <cstdint>
#include <vector>

#include "core/template/template.hpp"

namespace quillet::testing {

// Texture that stays varied at every scale and every angle: a wrapped ramp plus a hash.
inline std::vector<std::uint8_t> textured_pixels(std::size_t w, std::size_t h) {
    std::vector<std::uint8_t> px(w * h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t hash = (x * 2654435761u) ^ (y * 40503u + 977u);
            px[y * w + x] = static_cast<std::uint8_t>(x * 29 + y * 53 + (hash >> 7) % 61);
        }
    return px;
}

inline Template textured_template(std::size_t w, std::size_t h) {
    return expect_ok(Template::create(textured_pixels(w, h), w, h), "textured template");
}

inline Template constant_template(std::size_t w, std::size_t h, std::uint8_t value) {
    return expect_ok(Template::create(std::vector<std::uint8_t>(w * h, value), w, h), "constant template");
}

}  // namespace quillet::testing
