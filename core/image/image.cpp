#include "core/image/image.hpp"

#include <algorithm>

namespace quillet {

std::optional<std::size_t> checked_area(std::size_t w, std::size_t h) {
    std::size_t n = 0;
    if (__builtin_mul_overflow(w, h, &n)) return std::nullopt;
    return n;
}

Result<std::size_t> required_len(std::size_t width, std::size_t height, std::size_t stride) {
    if (width == 0 || height == 0) return fail(err::InvalidDimensions{width, height});
    if (stride < width) return fail(err::InvalidStride{width, stride});
    std::size_t rows = 0, needed = 0;
    if (__builtin_mul_overflow(height - 1, stride, &rows) || __builtin_add_overflow(rows, width, &needed))
        return fail(err::InvalidDimensions{width, height});
    return needed;
}

Result<ImageView> ImageView::create(std::span<const std::uint8_t> data, std::size_t width,
                                    std::size_t height, std::size_t stride) {
    auto needed = required_len(width, height, stride);
    if (!needed) return std::unexpected(needed.error());
    if (data.size() < *needed) return fail(err::BufferTooSmall{*needed, data.size()});
    return ImageView{data, width, height, stride};
}

std::optional<std::span<const std::uint8_t>> ImageView::row(std::size_t y) const {
    if (y >= height) return std::nullopt;
    std::size_t start = 0, end = 0;
    if (__builtin_mul_overflow(y, stride, &start) || __builtin_add_overflow(start, width, &end) || end > data.size())
        return std::nullopt;
    return data.subspan(start, width);
}

Result<OwnedImage> OwnedImage::create(std::vector<std::uint8_t> data, std::size_t width, std::size_t height) {
    auto n = checked_area(width, height);
    if (width == 0 || height == 0 || !n) return fail(err::InvalidDimensions{width, height});
    if (data.size() < *n) return fail(err::BufferTooSmall{*n, data.size()});
    if (data.size() > *n) return fail(err::InvalidDimensions{width, height});
    return OwnedImage(std::move(data), width, height);
}

Result<OwnedImage> OwnedImage::from_view(const ImageView& view) {
    const std::size_t w = view.width, h = view.height;
    auto n = checked_area(w, h);
    if (!n || w == 0 || h == 0) return fail(err::InvalidDimensions{w, h});
    std::vector<std::uint8_t> data(*n);
    for (std::size_t y = 0; y < h; ++y) {
        auto row = view.row(y);
        if (!row) fatal("row of a validated view lies inside its buffer");
        std::copy(row->begin(), row->end(), data.begin() + static_cast<std::ptrdiff_t>(y * w));
    }
    return OwnedImage(std::move(data), w, h);
}

}  // namespace quillet
