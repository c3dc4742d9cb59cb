// Negated SSD over the valid pixels of a rotated template, summed sequentially in coords order.
#pragma once

#include <vector>

#include "core/candidate/topk.hpp"
#include "core/kernel/kernel.hpp"
#include "core/kernel/scalar/masked_zncc.hpp"
#include "core/template/masked_plan.hpp"

namespace quillet {

struct SsdMaskedScalar {
    using Plan = MaskedSsdTemplatePlan;

    static float score_at(const ImageView& image, const MaskedSsdTemplatePlan& plan, std::size_t x, std::size_t y, float min_var_i);
    static float score_at_cached(RowCache rows, const MaskedSsdTemplatePlan& plan, std::size_t x, float min_var_i);
    static void score_row_cached(RowCache rows, const MaskedSsdTemplatePlan& plan, std::size_t x0, std::span<float> scores,
                                 float min_var_i);
    static Result<std::vector<Peak>> scan_range(const ImageView& image, const MaskedSsdTemplatePlan& plan, std::size_t angle_idx,
                                                ScanRegion region, std::size_t k, float min_var_i, float min_score);
};

}  // namespace quillet
