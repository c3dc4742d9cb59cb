// Borrowed and owned 8-bit grayscale images. Pixel (x, y) lives at y * stride + x.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/util/error.hpp"

namespace quillet {

// Bytes a buffer must hold for a view of this shape: the last row needs only `width` bytes.
Result<std::size_t> required_len(std::size_t width, std::size_t height, std::size_t stride);

// A read-only view of pixels owned elsewhere. Views from `create` (or from an OwnedImage)
// always have every row inside `data`.
struct ImageView {
    std::span<const std::uint8_t> data;
    std::size_t width = 0;
    std::size_t height = 0;
    std::size_t stride = 0;

    // The only check applied to memory that comes from outside the library.
    static Result<ImageView> create(std::span<const std::uint8_t> data, std::size_t width,
                                    std::size_t height, std::size_t stride);

    // Row y as `width` bytes, or nothing when it does not lie inside the buffer.
    std::optional<std::span<const std::uint8_t>> row(std::size_t y) const;

    std::uint8_t at(std::size_t x, std::size_t y) const { return data[y * stride + x]; }
};

// A tightly packed image that owns its pixels (stride == width, width and height >= 1).
class OwnedImage {
public:
    static Result<OwnedImage> create(std::vector<std::uint8_t> data, std::size_t width, std::size_t height);
    static Result<OwnedImage> from_view(const ImageView& view);

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::size_t stride() const { return width_; }
    const std::vector<std::uint8_t>& data() const { return data_; }
    ImageView view() const { return ImageView{data_, width_, height_, width_}; }

private:
    OwnedImage(std::vector<std::uint8_t> data, std::size_t width, std::size_t height)
        : data_(std::move(data)), width_(width), height_(height) {}

    std::vector<std::uint8_t> data_;
    std::size_t width_;
    std::size_t height_;
};

// w * h, or nothing on overflow.
std::optional<std::size_t> checked_area(std::size_t w, std::size_t h);

}  // namespace quillet
