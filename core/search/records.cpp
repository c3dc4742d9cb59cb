#include "core/search/records.hpp"

#include <cmath>

namespace quillet {

Status MatchConfig::validate() const {
    if (beam_width == 0) return fail(err::InvalidConfig{"beam_width must be at least 1"});
    if (per_angle_topk == 0) return fail(err::InvalidConfig{"per_angle_topk must be at least 1"});
    if (max_image_levels == 0) return fail(err::InvalidConfig{"max_image_levels must be at least 1"});
    // -0.0 compares equal to 0 and passes; a negative subnormal is below 0 and does not.
    if (!std::isfinite(min_var_i) || min_var_i < 0.0f)
        return fail(err::InvalidConfig{"min_var_i must be a non-negative finite value"});
    if (std::isnan(min_score) || min_score == std::numeric_limits<float>::infinity())
        return fail(err::InvalidConfig{"min_score must be finite or NEG_INFINITY"});
    return {};
}

}  // namespace quillet
