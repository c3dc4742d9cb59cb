#include "core/bank/rotated.hpp"

#include <cmath>

#include <tbb/parallel_for.h>

#include "core/image/pyramid.hpp"
#include "core/util/trace.hpp"

namespace quillet {

namespace {

bool positive_finite(float v) { return std::isfinite(v) && v > 0.0f; }

// Halves a w x h mask; a reduced pixel is valid only where all four finer pixels are valid.
// Odd last rows and columns are dropped, as for the image.
Result<std::vector<std::uint8_t>> reduce_mask_2x2_all(std::span<const std::uint8_t> mask, std::size_t w, std::size_t h) {
    auto area = checked_area(w, h);
    if (!area) return fail(err::InvalidDimensions{w, h});
    if (mask.size() < *area) return fail(err::BufferTooSmall{*area, mask.size()});
    if (mask.size() > *area || h < 2 || w < 2) return fail(err::InvalidDimensions{w, h});
    const std::size_t ow = w / 2, oh = h / 2;
    std::vector<std::uint8_t> out(ow * oh);
    for (std::size_t y = 0; y < oh; ++y) {
        const std::uint8_t* top = mask.data() + 2 * y * w;
        const std::uint8_t* bottom = top + w;
        for (std::size_t x = 0; x < ow; ++x) {
            const unsigned all = top[2 * x] & top[2 * x + 1] & bottom[2 * x] & bottom[2 * x + 1];
            out[y * ow + x] = all != 0 ? 1 : 0;
        }
    }
    return out;
}

}  // namespace

Status CompileConfig::validate() const {
    if (max_levels == 0) return fail(err::InvalidConfig{"max_levels must be at least 1"});
    if (!positive_finite(coarse_step_deg)) return fail(err::InvalidConfig{"coarse_step_deg must be a positive finite value"});
    if (!positive_finite(min_step_deg)) return fail(err::InvalidConfig{"min_step_deg must be a positive finite value"});
    if (coarse_step_deg < min_step_deg) return fail(err::InvalidConfig{"min_step_deg must not exceed coarse_step_deg"});
    return {};
}

Status check_angle_step(float step_deg) {
    if (positive_finite(step_deg) && grid_exceeds_max_angles(-180.0f, 180.0f, step_deg)) {
        return fail(err::InvalidConfig{"angle step below 0.001 degrees: an angle grid would hold more than 360000 angles"});
    }
    return {};
}

RotationSlot::~RotationSlot() { delete value_.load(std::memory_order_acquire); }

const RotatedTemplate& RotationSlot::store(std::unique_ptr<RotatedTemplate> value) const {
    if (!value) fatal("rotation slot stores a built template");
    const RotatedTemplate* current = nullptr;
    // Release publishes the finished template to readers that acquire the pointer; the loser
    // acquires the winner's template, and its own is freed when `value` goes out of scope.
    if (value_.compare_exchange_strong(current, value.get(), std::memory_order_acq_rel, std::memory_order_acquire)) {
        return *value.release();
    }
    return *current;
}

Result<RotatedImage> rotate_downsample_to_level(const ImageView& src, std::uint8_t fill_value, std::size_t level, float angle_deg) {
    RotatedImage current = rotate_u8_bilinear_masked(src, fill_value, angle_deg);
    for (std::size_t i = 0; i < level; ++i) {
        auto image = downsample_u8_2x2_box(current.image.view());
        if (!image) return std::unexpected(image.error());
        auto mask = reduce_mask_2x2_all(current.mask, current.image.width(), current.image.height());
        if (!mask) return std::unexpected(mask.error());
        current = RotatedImage{std::move(*image), std::move(*mask)};
    }
    return current;
}

Result<RotatedTemplate> build_rotated_template(const ImageView& level0, std::uint8_t fill_value, std::size_t level, float angle_deg) {
    auto rotated = rotate_downsample_to_level(level0, fill_value, level, angle_deg);
    if (!rotated) return std::unexpected(rotated.error());
    // Both plans read the same mask.
    const std::span<const std::uint8_t> mask = rotated->mask;
    auto zncc = MaskedTemplatePlan::from_rotated_parts(rotated->image.view(), mask);
    if (!zncc) return std::unexpected(zncc.error());
    auto ssd = MaskedSsdTemplatePlan::from_rotated_parts(rotated->image.view(), mask);
    if (!ssd) return std::unexpected(ssd.error());
    return RotatedTemplate{std::move(*zncc), std::move(*ssd)};
}

std::vector<Result<RotatedTemplate>> build_level_rotations(const ImageView& level0, std::uint8_t fill_value, std::size_t level,
                                                           const AngleGrid& grid) {
    trace::Span span("precompute_rotations", {{"count", std::uint64_t{grid.count}}});
    const auto pairs = grid.iter();
    std::vector<Result<RotatedTemplate>> results(pairs.size());
    tbb::parallel_for(std::size_t{0}, pairs.size(), [&](std::size_t i) {
        results[i] = build_rotated_template(level0, fill_value, level, pairs[i].second);
    });
    return results;
}

}  // namespace quillet
