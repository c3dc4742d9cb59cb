#include "core/kernel/simd.hpp"

#include <optional>

#include "core/kernel/scan.hpp"
#include "core/kernel/terms.hpp"

namespace quillet {

static_assert(Kernel<ZnccUnmaskedSimd> && Kernel<SsdUnmaskedSimd>);

namespace {

// Sums Terms over a window whose template row j starts at image pixel row_at(j) (nullptr when
// that row is outside the image): lane l takes columns 8c + l of every row, the columns past
// the last full chunk go to the scalar tail, and the lanes are folded left to right, tail last.
template <template <class> class Terms, class Plan, class RowAt>
std::optional<Terms<float>> sum_window(const Plan& plan, RowAt row_at) {
    const std::size_t w = plan.width, chunks = w / 8;
    Terms<v8f> lanes;
    Terms<float> tail;
    for (std::size_t j = 0; j < plan.height; ++j) {
        const std::uint8_t* px = row_at(j);
        if (!px) return std::nullopt;
        const float* t = plan.values.data() + j * w;
        for (std::size_t c = 0; c < chunks; ++c) lanes.add(widen8(px + 8 * c), load8(t + 8 * c));
        for (std::size_t i = 8 * chunks; i < w; ++i) tail.add(static_cast<float>(px[i]), t[i]);
    }
    return lanes.folded(tail);
}

// The window at (x, y), every row checked against the image; nothing when the window leaves it.
template <template <class> class Terms, class Plan>
std::optional<Terms<float>> sum_window_at(const ImageView& image, const Plan& plan, std::size_t x, std::size_t y) {
    check_one_value_per_pixel(plan);
    if (x > image.width || plan.width > image.width - x) return std::nullopt;
    return sum_window<Terms>(plan, [&](std::size_t j) -> const std::uint8_t* {
        auto row = image.row(y + j);
        return y + j < y || !row ? nullptr : row->data() + x;
    });
}

// A serial scan scoring each placement by finish(sums of its window). The image rows of a
// placement row are looked up once; if one is outside the view, that row has no scores.
template <template <class> class Terms, class Plan, class Finish>
Result<std::vector<Peak>> scan_windows(const ImageView& image, const Plan& plan, std::size_t angle_idx, ScanRegion region,
                                       std::size_t k, float min_score, bool template_usable, Finish finish) {
    check_one_value_per_pixel(plan);
    std::vector<std::span<const std::uint8_t>> rows;
    return scan_placements(image, plan.width, plan.height, angle_idx, region, k, min_score, template_usable,
                           [&](std::size_t y, std::size_t x0, std::size_t x1, auto emit) {
                               if (!gather_rows(rows, image, y, plan.height)) return;
                               for (std::size_t x = x0; x <= x1; ++x)
                                   emit(x, finish(*sum_window<Terms>(plan, [&](std::size_t j) { return rows[j].data() + x; })));
                           });
}

float pixel_count(const TemplatePlan& plan) { return static_cast<float>(plan.width * plan.height); }

auto zncc_finish(const TemplatePlan& plan, float min_var_i) {
    return [n = pixel_count(plan), &plan, min_var_i](const ZnccTerms<float>& sums) {
        return zncc_score(sums, n, plan.var_sum, min_var_i);
    };
}

}  // namespace

float ZnccUnmaskedSimd::score_at(const ImageView& image, const TemplatePlan& plan, std::size_t x, std::size_t y,
                                 float min_var_i) {
    if (!placement_fits(image, plan.width, plan.height, x, y)) return kNoScore;
    return score_at_simd(image, plan, x, y, min_var_i);
}

float ZnccUnmaskedSimd::score_at_simd(const ImageView& image, const TemplatePlan& plan, std::size_t x, std::size_t y,
                                      float min_var_i) {
    auto sums = sum_window_at<ZnccTerms>(image, plan, x, y);
    return sums ? zncc_finish(plan, min_var_i)(*sums) : kNoScore;
}

Result<std::vector<Peak>> ZnccUnmaskedSimd::scan_range(const ImageView& image, const TemplatePlan& plan,
                                                       std::size_t angle_idx, ScanRegion region, std::size_t k,
                                                       float min_var_i, float min_score) {
    return scan_windows<ZnccTerms>(image, plan, angle_idx, region, k, min_score, !degenerate_variance(plan.var_sum),
                                   zncc_finish(plan, min_var_i));
}

Result<std::vector<Peak>> ZnccUnmaskedSimd::scan_range_integral(const ImageView& image, const TemplatePlan& plan,
                                                                std::size_t angle_idx, ScanRegion region, std::size_t k,
                                                                float min_var_i, float min_score,
                                                                const IntegralImages& integrals) {
    check_one_value_per_pixel(plan);
    const std::size_t w = plan.width, h = plan.height;
    const float n = pixel_count(plan);
    std::vector<std::span<const std::uint8_t>> rows;
    return scan_placements(
        image, w, h, angle_idx, region, k, min_score, !degenerate_variance(plan.var_sum),
        [&](std::size_t y, std::size_t x0, std::size_t x1, auto emit) {
            if (integrals.width != image.width || integrals.height != image.height)
                fatal("integral images of the scanned image");
            if (!gather_rows(rows, image, y, h)) fatal("row within bounds for scan");
            for (std::size_t x = x0; x <= x1; ++x) {
                // Flat windows are skipped before the template is touched.
                const float var_i = window_variance(integrals.window_sum(x, y, w, h), integrals.window_sum_sq(x, y, w, h), n);
                if (var_i <= min_var_i) continue;
                auto sums = sum_window<CrossTerms>(plan, [&](std::size_t j) { return rows[j].data() + x; });
                emit(x, correlation(sums->cross, plan.var_sum, var_i));
            }
        });
}

float SsdUnmaskedSimd::score_at(const ImageView& image, const SsdTemplatePlan& plan, std::size_t x, std::size_t y,
                                float /*min_var_i*/) {
    if (!placement_fits(image, plan.width, plan.height, x, y)) return kNoScore;
    return score_at_simd(image, plan, x, y);
}

float SsdUnmaskedSimd::score_at_simd(const ImageView& image, const SsdTemplatePlan& plan, std::size_t x, std::size_t y) {
    auto sums = sum_window_at<SsdTerms>(image, plan, x, y);
    return sums ? ssd_score(*sums) : kNoScore;
}

Result<std::vector<Peak>> SsdUnmaskedSimd::scan_range(const ImageView& image, const SsdTemplatePlan& plan,
                                                      std::size_t angle_idx, ScanRegion region, std::size_t k,
                                                      float /*min_var_i*/, float min_score) {
    return scan_windows<SsdTerms>(image, plan, angle_idx, region, k, min_score, true,
                                  [](const SsdTerms<float>& sums) { return ssd_score(sums); });
}

}  // namespace quillet
