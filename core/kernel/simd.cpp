#include "core/kernel/simd.hpp"

#include <optional>

#include "core/kernel/scan.hpp"
#include "core/kernel/terms.hpp"

namespace quillet {

namespace {

// Sums Terms over the w x h window at (x, y): lane l takes columns 8c + l of every row, the
// columns past the last full chunk go to the scalar tail, and the lanes are folded left to
// right with the tail last. Nothing when a row, or the window's columns, leave the image.
template <template <class> class Terms>
std::optional<Terms<float>> sum_window(const ImageView& image, const std::vector<float>& values, std::size_t w,
                                       std::size_t h, std::size_t x, std::size_t y) {
    auto area = checked_area(w, h);
    if (!area || values.size() < *area) fatal("template plan holds one value per pixel");
    if (x > image.width || w > image.width - x) return std::nullopt;
    const std::size_t chunks = w / 8;
    Terms<v8f> lanes;
    Terms<float> tail;
    for (std::size_t j = 0; j < h; ++j) {
        auto row = image.row(y + j);
        if (y + j < y || !row) return std::nullopt;
        const std::uint8_t* px = row->data() + x;
        const float* t = values.data() + j * w;
        for (std::size_t c = 0; c < chunks; ++c) lanes.add(widen8(px + 8 * c), load8(t + 8 * c));
        for (std::size_t i = 8 * chunks; i < w; ++i) tail.add(static_cast<float>(px[i]), t[i]);
    }
    return lanes.folded(tail);
}

float pixel_count(std::size_t w, std::size_t h) { return static_cast<float>(w * h); }

}  // namespace

float ZnccUnmaskedSimd::score_at(const ImageView& image, const TemplatePlan& plan, std::size_t x, std::size_t y,
                                 float min_var_i) {
    if (!placement_fits(image, plan.width, plan.height, x, y)) return kNoScore;
    return score_at_simd(image, plan, x, y, min_var_i);
}

float ZnccUnmaskedSimd::score_at_simd(const ImageView& image, const TemplatePlan& plan, std::size_t x, std::size_t y,
                                      float min_var_i) {
    auto sums = sum_window<ZnccTerms>(image, plan.values, plan.width, plan.height, x, y);
    if (!sums) return kNoScore;
    return zncc_score(*sums, pixel_count(plan.width, plan.height), plan.var_sum, min_var_i);
}

Result<std::vector<Peak>> ZnccUnmaskedSimd::scan_range(const ImageView& image, const TemplatePlan& plan,
                                                       std::size_t angle_idx, ScanRegion region, std::size_t k,
                                                       float min_var_i, float min_score) {
    return scan_placements(image, plan.width, plan.height, angle_idx, region, k, min_score,
                           !degenerate_variance(plan.var_sum), [&](std::size_t y, std::size_t x0, std::size_t x1, auto emit) {
                               for (std::size_t x = x0; x <= x1; ++x) emit(x, score_at_simd(image, plan, x, y, min_var_i));
                           });
}

Result<std::vector<Peak>> ZnccUnmaskedSimd::scan_range_integral(const ImageView& image, const TemplatePlan& plan,
                                                                std::size_t angle_idx, ScanRegion region, std::size_t k,
                                                                float min_var_i, float min_score,
                                                                const IntegralImages& integrals) {
    const std::size_t w = plan.width, h = plan.height;
    const float n = pixel_count(w, h);
    auto score = [&](std::size_t x, std::size_t y) {
        const float var_i = window_variance(integrals.window_sum(x, y, w, h), integrals.window_sum_sq(x, y, w, h), n);
        if (var_i <= min_var_i) return kNoScore;
        auto sums = sum_window<CrossTerms>(image, plan.values, w, h, x, y);
        if (!sums) fatal("row within bounds for scan");
        return correlation(sums->cross, plan.var_sum, var_i);
    };
    return scan_placements(image, w, h, angle_idx, region, k, min_score, !degenerate_variance(plan.var_sum),
                           [&](std::size_t y, std::size_t x0, std::size_t x1, auto emit) {
                               if (integrals.width != image.width || integrals.height != image.height)
                                   fatal("integral images of the scanned image");
                               for (std::size_t x = x0; x <= x1; ++x) emit(x, score(x, y));
                           });
}

float SsdUnmaskedSimd::score_at(const ImageView& image, const SsdTemplatePlan& plan, std::size_t x, std::size_t y,
                                float /*min_var_i*/) {
    if (!placement_fits(image, plan.width, plan.height, x, y)) return kNoScore;
    return score_at_simd(image, plan, x, y);
}

float SsdUnmaskedSimd::score_at_simd(const ImageView& image, const SsdTemplatePlan& plan, std::size_t x, std::size_t y) {
    auto sums = sum_window<SsdTerms>(image, plan.values, plan.width, plan.height, x, y);
    return sums ? ssd_score(*sums) : kNoScore;
}

Result<std::vector<Peak>> SsdUnmaskedSimd::scan_range(const ImageView& image, const SsdTemplatePlan& plan,
                                                      std::size_t angle_idx, ScanRegion region, std::size_t k,
                                                      float /*min_var_i*/, float min_score) {
    return scan_placements(image, plan.width, plan.height, angle_idx, region, k, min_score, true,
                           [&](std::size_t y, std::size_t x0, std::size_t x1, auto emit) {
                               for (std::size_t x = x0; x <= x1; ++x) emit(x, score_at_simd(image, plan, x, y));
                           });
}

}  // namespace quillet
