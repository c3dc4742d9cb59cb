// Full-image scans with placement rows spread over the worker pool. Each placement is a plain
// row-major running sum; the result is the same for every thread count and task split.
#pragma once

#include <vector>

#include "core/candidate/topk.hpp"
#include "core/image/image.hpp"
#include "core/template/plan.hpp"

namespace quillet {

Result<std::vector<Peak>> zncc_unmasked_scan_full_par(const ImageView& image, const TemplatePlan& plan, std::size_t angle_idx,
                                                      std::size_t k, float min_var_i, float min_score);
// min_var_i is ignored.
Result<std::vector<Peak>> ssd_unmasked_scan_full_par(const ImageView& image, const SsdTemplatePlan& plan, std::size_t angle_idx,
                                                     std::size_t k, float min_var_i, float min_score);

}  // namespace quillet
