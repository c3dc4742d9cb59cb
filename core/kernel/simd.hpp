// Unmasked ZNCC and SSD kernels with eight-lane accumulation. Lane l takes columns 8c + l,
// lanes are reduced left to right and the scalar tail is added last; that order is part of
// the result, so vectorising it keeps every bit.
#pragma once

#include <vector>

#include "core/candidate/topk.hpp"
#include "core/image/integral.hpp"
#include "core/kernel/kernel.hpp"
#include "core/template/plan.hpp"

namespace quillet {

struct ZnccUnmaskedSimd {
    using Plan = TemplatePlan;

    static float score_at(const ImageView& image, const TemplatePlan& plan, std::size_t x, std::size_t y, float min_var_i);
    // No placement check; rows are checked against the image.
    static float score_at_simd(const ImageView& image, const TemplatePlan& plan, std::size_t x, std::size_t y, float min_var_i);
    // The k best placements of the region, best first.
    static Result<std::vector<Peak>> scan_range(const ImageView& image, const TemplatePlan& plan, std::size_t angle_idx,
                                                ScanRegion region, std::size_t k, float min_var_i, float min_score);
    // As scan_range, with each window's sum and sum of squares taken from the integral images.
    static Result<std::vector<Peak>> scan_range_integral(const ImageView& image, const TemplatePlan& plan, std::size_t angle_idx,
                                                         ScanRegion region, std::size_t k, float min_var_i, float min_score,
                                                         const IntegralImages& integrals);
};

// Scores are the negated sum of squared differences: a perfect match scores -0.0.
struct SsdUnmaskedSimd {
    using Plan = SsdTemplatePlan;

    static float score_at(const ImageView& image, const SsdTemplatePlan& plan, std::size_t x, std::size_t y, float min_var_i);
    static float score_at_simd(const ImageView& image, const SsdTemplatePlan& plan, std::size_t x, std::size_t y);
    // min_var_i is ignored; it is accepted so that every kernel scans with the same arguments.
    static Result<std::vector<Peak>> scan_range(const ImageView& image, const SsdTemplatePlan& plan, std::size_t angle_idx,
                                                ScanRegion region, std::size_t k, float min_var_i, float min_score);
};

}  // namespace quillet
