#include "core/template/masked_plan.hpp"

namespace quillet {

namespace {

// Coordinates are stored in 32 bits; keeping both sides below this bound keeps them exact.
constexpr std::size_t kMaxMaskedSide = 65536;

// The valid pixels of a rotated template, row by row and left to right.
struct ValidPixels {
    std::vector<ValidCoord> coords;
    std::vector<float> pixels;  // pixel values as floats, in coords order
};

// Calls visit(x, y, pixel) for every pixel whose mask byte is non-zero, in row-major order.
template <class Visit>
void for_each_valid_pixel(const ImageView& image, std::span<const std::uint8_t> mask, Visit&& visit) {
    for (std::size_t y = 0; y < image.height; ++y) {
        auto row = image.row(y);
        if (!row) fatal("row of a validated view lies inside its buffer");
        const std::uint8_t* mask_row = mask.data() + y * image.width;
        for (std::size_t x = 0; x < image.width; ++x) {
            if (mask_row[x] != 0) visit(x, y, (*row)[x]);
        }
    }
}

// The checks both masked plans share, then a counting pass so that the second pass fills
// lists allocated at their exact size.
Result<ValidPixels> gather_valid_pixels(const ImageView& image, std::span<const std::uint8_t> mask) {
    const std::size_t w = image.width, h = image.height;
    if (w >= kMaxMaskedSide || h >= kMaxMaskedSide) return fail(err::InvalidDimensions{w, h});
    const std::size_t n = w * h;
    if (mask.size() < n) return fail(err::BufferTooSmall{n, mask.size()});
    if (mask.size() > n) return fail(err::InvalidDimensions{w, h});

    std::size_t count = 0;
    for_each_valid_pixel(image, mask, [&](std::size_t, std::size_t, std::uint8_t) { ++count; });
    if (count == 0) return fail(err::DegenerateTemplate{"mask has no valid pixels"});

    ValidPixels valid;
    valid.coords.reserve(count);
    valid.pixels.reserve(count);
    for_each_valid_pixel(image, mask, [&](std::size_t x, std::size_t y, std::uint8_t p) {
        valid.coords.push_back(ValidCoord{static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)});
        valid.pixels.push_back(static_cast<float>(p));
    });
    return valid;
}

}  // namespace

Result<MaskedTemplatePlan> MaskedTemplatePlan::from_rotated_parts(const ImageView& image,
                                                                  std::span<const std::uint8_t> mask) {
    auto valid = gather_valid_pixels(image, mask);
    if (!valid) return std::unexpected(valid.error());

    // All 32-bit, accumulated in coords order.
    float sum = 0.0f;
    for (float v : valid->pixels) sum += v;
    const float n_valid = static_cast<float>(valid->pixels.size());
    const float mean = sum / n_valid;
    float var_sum = 0.0f;
    for (float& v : valid->pixels) {
        v = v - mean;
        var_sum += v * v;
    }
    if (var_sum <= 1e-8f) return fail(err::DegenerateTemplate{"template variance too small"});

    MaskedTemplatePlan plan;
    plan.coords = std::move(valid->coords);
    plan.values = std::move(valid->pixels);
    plan.width = image.width;
    plan.height = image.height;
    plan.n_valid = n_valid;
    plan.var_sum = var_sum;
    return plan;
}

Result<MaskedSsdTemplatePlan> MaskedSsdTemplatePlan::from_rotated_parts(const ImageView& image,
                                                                        std::span<const std::uint8_t> mask) {
    auto valid = gather_valid_pixels(image, mask);
    if (!valid) return std::unexpected(valid.error());

    MaskedSsdTemplatePlan plan;
    plan.coords = std::move(valid->coords);
    plan.values = std::move(valid->pixels);
    plan.width = image.width;
    plan.height = image.height;
    return plan;
}

}  // namespace quillet
