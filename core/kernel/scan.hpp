// The frame every scan shares: the size check, the clamping of the region to the valid
// placements, and the collection of qualifying peaks. Each kernel supplies a row scorer
//     score_row(y, x0, x1, emit)
// that scores placements x0 ..= x1 of placement row y and calls emit(x, score) for each.
#pragma once

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

#include "core/candidate/topk.hpp"
#include "core/kernel/kernel.hpp"

namespace quillet {

// Inclusive rectangle of valid placements, never empty.
struct PlacementRect {
    std::size_t x0, y0, x1, y1;
};

// Image rows y .. y + h - 1 of one placement row, each from image column 0.
using PlacementRows = std::span<const std::span<const std::uint8_t>>;

// Fills `rows` with image rows y .. y + h - 1; false when one of them is outside the view.
inline bool gather_rows(std::vector<std::span<const std::uint8_t>>& rows, const ImageView& image, std::size_t y,
                        std::size_t h) {
    rows.resize(h);
    for (std::size_t j = 0; j < h; ++j) {
        auto row = image.row(y + j);
        if (y + j < y || !row) return false;
        rows[j] = *row;
    }
    return true;
}

// Unmasked plans list one value per template pixel; the kernels index them without checks.
template <class Plan>
void check_one_value_per_pixel(const Plan& plan) {
    auto area = checked_area(plan.width, plan.height);
    if (!area || plan.values.size() < *area) fatal("template plan holds one value per pixel");
}

inline bool placement_fits(const ImageView& image, std::size_t w, std::size_t h, std::size_t x, std::size_t y) {
    return image.width >= w && image.height >= h && x <= image.width - w && y <= image.height - h;
}

// Nothing (no error) when k = 0 or the region holds no valid placement; RoiOutOfBounds
// when the template does not fit the image.
inline Result<std::optional<PlacementRect>> clamp_scan_region(const ImageView& image, std::size_t w, std::size_t h,
                                                              ScanRegion region, std::size_t k) {
    if (k == 0) return std::nullopt;
    if (image.width < w || image.height < h)
        return fail(err::RoiOutOfBounds{0, 0, w, h, image.width, image.height});
    const std::size_t max_x = image.width - w, max_y = image.height - h;
    if (region.x0 > max_x || region.y0 > max_y) return std::nullopt;
    const std::size_t x1 = std::min(region.x1, max_x);
    if (region.x0 > x1 || region.y1 < region.y0) return std::nullopt;
    return PlacementRect{region.x0, region.y0, x1, std::min(region.y1, max_y)};
}

// Pushes the qualifying placements of row y into `top`.
template <class ScoreRow>
void collect_row(TopK& top, const PlacementRect& rect, std::size_t y, std::size_t angle_idx, float min_score,
                 ScoreRow& score_row) {
    score_row(y, rect.x0, rect.x1, [&](std::size_t x, float score) {
        if (std::isfinite(score) && score >= min_score) top.push(Peak{x, y, angle_idx, score});
    });
}

// The k best qualifying placements of the region, best first. A template that cannot score
// (`template_usable` false) gives an empty list once the size check has passed.
template <class ScoreRow>
Result<std::vector<Peak>> scan_placements(const ImageView& image, std::size_t w, std::size_t h, std::size_t angle_idx,
                                          ScanRegion region, std::size_t k, float min_score, bool template_usable,
                                          ScoreRow score_row) {
    auto rect = clamp_scan_region(image, w, h, region, k);
    if (!rect) return std::unexpected(rect.error());
    if (!*rect || !template_usable) return std::vector<Peak>{};
    TopK top(k);
    for (std::size_t y = (*rect)->y0; y <= (*rect)->y1; ++y) collect_row(top, **rect, y, angle_idx, min_score, score_row);
    return std::move(top).into_sorted_desc();
}

}  // namespace quillet
