#include "core/template/rotate.hpp"

#include <bit>
#include <cmath>

namespace quillet {

namespace {

// pi / 180 rounded to 32 bits.
const float kDegToRad = std::bit_cast<float>(0x3C8EFA35u);

std::uint8_t round_to_u8(float v) {
    float r = std::round(v);  // halves away from zero
    if (!(r > 0.0f)) return 0;
    if (r > 255.0f) return 255;
    return static_cast<std::uint8_t>(r);
}

}  // namespace

RotatedImage rotate_u8_bilinear_masked(const ImageView& view, std::uint8_t fill_value, float angle_deg) {
    const std::size_t W = view.width, H = view.height;
    if (W == 0 || H == 0) fatal("rotation output is contiguous");
    std::vector<std::uint8_t> pixels(W * H, fill_value);
    std::vector<std::uint8_t> mask(W * H, 0);
    if (W >= 2 && H >= 2) {
        const float theta = angle_deg * kDegToRad;
        const float s = std::sin(theta);
        const float c = std::cos(theta);
        const float mx = static_cast<float>(W) - 1.0f;
        const float my = static_cast<float>(H) - 1.0f;
        const float cx = mx * 0.5f;
        const float cy = my * 0.5f;
        for (std::size_t y = 0; y < H; ++y) {
            const float dy = static_cast<float>(y) - cy;
            const float a = s * dy;
            const float b = dy * c;
            for (std::size_t x = 0; x < W; ++x) {
                const float dx = static_cast<float>(x) - cx;
                const float src_x = (c * dx + a) + cx;
                if (!std::isfinite(src_x)) continue;
                const float src_y = (b - dx * s) + cy;
                if (!std::isfinite(src_y)) continue;
                if (src_x < 0.0f || src_y < 0.0f || src_x > mx || src_y > my) continue;
                const auto x0 = static_cast<std::size_t>(std::floor(src_x));
                const auto y0 = static_cast<std::size_t>(std::floor(src_y));
                if (x0 + 1 >= W || y0 + 1 >= H) continue;
                const float tx = src_x - static_cast<float>(x0);
                const float ty = src_y - static_cast<float>(y0);
                auto row0 = view.row(y0);
                auto row1 = view.row(y0 + 1);
                if (!row0 || !row1) fatal("row in bounds");
                const float p00 = (*row0)[x0], p10 = (*row0)[x0 + 1];
                const float p01 = (*row1)[x0], p11 = (*row1)[x0 + 1];
                const float w00 = (1.0f - ty) * (1.0f - tx);
                const float w10 = (1.0f - ty) * tx;
                const float w01 = ty * (1.0f - tx);
                const float w11 = ty * tx;
                const float v = ((p10 * w10 + p00 * w00) + p01 * w01) + p11 * w11;
                const std::size_t i = y * W + x;
                pixels[i] = round_to_u8(v);
                mask[i] = 1;
            }
        }
    }
    auto image = expect_ok(OwnedImage::create(std::move(pixels), W, H), "rotation output is contiguous");
    return RotatedImage{std::move(image), std::move(mask)};
}

}  // namespace quillet
