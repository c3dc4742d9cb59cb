#include "core/kernel/scalar/masked_ssd.hpp"

#include "core/kernel/scalar/masked_sums.hpp"

namespace quillet {

static_assert(Kernel<SsdMaskedScalar>);

float SsdMaskedScalar::score_at(const ImageView& image, const MaskedSsdTemplatePlan& plan, std::size_t x, std::size_t y,
                                float /*min_var_i*/) {
    if (!placement_fits(image, plan.width, plan.height, x, y)) return kNoScore;
    return ssd_score(masked_sums_at<SsdTerms>(image, plan, x, y));
}

float SsdMaskedScalar::score_at_cached(RowCache rows, const MaskedSsdTemplatePlan& plan, std::size_t x,
                                       float /*min_var_i*/) {
    return ssd_score(masked_sums_cached<SsdTerms>(rows, plan, x));
}

void SsdMaskedScalar::score_row_cached(RowCache rows, const MaskedSsdTemplatePlan& plan, std::size_t x0, std::span<float> scores,
                                       float /*min_var_i*/) {
    masked_row_cached<SsdTerms>(rows, plan, x0, scores, [](const SsdTerms<float>& sums) { return ssd_score(sums); });
}

Result<std::vector<Peak>> SsdMaskedScalar::scan_range(const ImageView& image, const MaskedSsdTemplatePlan& plan,
                                                      std::size_t angle_idx, ScanRegion region, std::size_t k,
                                                      float /*min_var_i*/, float min_score) {
    return masked_scan<SsdTerms>("ssd_masked_scan", image, plan, angle_idx, region, k, min_score, true,
                                 [](const SsdTerms<float>& sums) { return ssd_score(sums); });
}

}  // namespace quillet
