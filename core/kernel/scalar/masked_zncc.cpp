#include "core/kernel/scalar/masked_zncc.hpp"

#include <algorithm>

#include "core/kernel/scalar/masked_sums.hpp"

namespace quillet {

static_assert(Kernel<ZnccMaskedScalar>);

namespace {

auto zncc_finish(const MaskedTemplatePlan& plan, float min_var_i) {
    return [&plan, min_var_i](const ZnccTerms<float>& sums) {
        return zncc_score(sums, plan.n_valid, plan.var_sum, min_var_i);
    };
}

}  // namespace

float ZnccMaskedScalar::score_at(const ImageView& image, const MaskedTemplatePlan& plan, std::size_t x, std::size_t y,
                                 float min_var_i) {
    if (!placement_fits(image, plan.width, plan.height, x, y) || degenerate_variance(plan.var_sum)) return kNoScore;
    return zncc_finish(plan, min_var_i)(masked_sums_at<ZnccTerms>(image, plan, x, y));
}

float ZnccMaskedScalar::score_at_cached(RowCache rows, const MaskedTemplatePlan& plan, std::size_t x, float min_var_i) {
    if (degenerate_variance(plan.var_sum)) return kNoScore;
    return zncc_finish(plan, min_var_i)(masked_sums_cached<ZnccTerms>(rows, plan, x));
}

void ZnccMaskedScalar::score_row_cached(RowCache rows, const MaskedTemplatePlan& plan, std::size_t x0, std::span<float> scores,
                                        float min_var_i) {
    if (degenerate_variance(plan.var_sum)) {
        std::fill(scores.begin(), scores.end(), kNoScore);
        return;
    }
    masked_row_cached<ZnccTerms>(rows, plan, x0, scores, zncc_finish(plan, min_var_i));
}

Result<std::vector<Peak>> ZnccMaskedScalar::scan_range(const ImageView& image, const MaskedTemplatePlan& plan,
                                                       std::size_t angle_idx, ScanRegion region, std::size_t k,
                                                       float min_var_i, float min_score) {
    return masked_scan<ZnccTerms>("zncc_masked_scan", image, plan, angle_idx, region, k, min_score,
                                  !degenerate_variance(plan.var_sum), zncc_finish(plan, min_var_i));
}

}  // namespace quillet
