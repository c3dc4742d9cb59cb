// ZNCC over the valid pixels of a rotated template, summed sequentially in coords order.
#pragma once

#include <span>
#include <vector>

#include "core/candidate/topk.hpp"
#include "core/kernel/kernel.hpp"
#include "core/template/masked_plan.hpp"

namespace quillet {

// One image row per template row, each starting at image column 0.
using RowCache = std::span<const std::span<const std::uint8_t>>;

struct ZnccMaskedScalar {
    using Plan = MaskedTemplatePlan;

    static float score_at(const ImageView& image, const MaskedTemplatePlan& plan, std::size_t x, std::size_t y, float min_var_i);
    // Placement (x, y) whose rows y .. y + height - 1 are in `rows`; no placement check.
    static float score_at_cached(RowCache rows, const MaskedTemplatePlan& plan, std::size_t x, float min_var_i);
    // score_at_cached of placements x0, x0 + 1, ..., one per entry of `scores`, several at once.
    static void score_row_cached(RowCache rows, const MaskedTemplatePlan& plan, std::size_t x0, std::span<float> scores,
                                 float min_var_i);
    static Result<std::vector<Peak>> scan_range(const ImageView& image, const MaskedTemplatePlan& plan, std::size_t angle_idx,
                                                ScanRegion region, std::size_t k, float min_var_i, float min_score);
};

}  // namespace quillet
