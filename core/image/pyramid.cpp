#include "core/image/pyramid.hpp"

#include <algorithm>

namespace quillet {

Result<ImagePyramid> ImagePyramid::build_u8(const ImageView& view, std::size_t max_levels) {
    const std::size_t limit = std::max<std::size_t>(max_levels, 1);
    auto base = OwnedImage::from_view(view);
    if (!base) return std::unexpected(base.error());
    ImagePyramid pyramid;
    pyramid.levels.push_back(std::move(*base));
    while (pyramid.levels.size() < limit) {
        const OwnedImage& last = pyramid.levels.back();
        if (last.width() < 2 || last.height() < 2) break;
        auto next = downsample_u8_2x2_box(last.view());
        if (!next) return std::unexpected(next.error());
        pyramid.levels.push_back(std::move(*next));
    }
    return pyramid;
}

Result<OwnedImage> downsample_u8_2x2_box(const ImageView& src) {
    const std::size_t w = src.width, h = src.height;
    if (w <= 1 || h <= 1) return fail(err::InvalidDimensions{w, h});
    const std::size_t ow = w / 2, oh = h / 2;
    auto n = checked_area(ow, oh);
    if (!n) return fail(err::InvalidDimensions{ow, oh});
    std::vector<std::uint8_t> out(*n);
    for (std::size_t y = 0; y < oh; ++y) {
        auto top = src.row(2 * y);
        auto bottom = src.row(2 * y + 1);
        if (!top || !bottom) fatal("row of a validated view lies inside its buffer");
        std::uint8_t* dst = out.data() + y * ow;
        for (std::size_t x = 0; x < ow; ++x) {
            const unsigned a = (*top)[2 * x], b = (*top)[2 * x + 1];
            const unsigned c = (*bottom)[2 * x], d = (*bottom)[2 * x + 1];
            // +2 rounds the quarter half up.
            dst[x] = static_cast<std::uint8_t>((a + b + c + d + 2) >> 2);
        }
    }
    return OwnedImage::create(std::move(out), ow, oh);
}

}  // namespace quillet
