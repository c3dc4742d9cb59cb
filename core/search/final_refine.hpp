// The final refinement of a level-0 candidate: sub-pixel position from parabolas through the
// scores of its four neighbours and, with rotation, a sub-step angle from the neighbouring
// grid angles.
#pragma once

#include "core/bank/compiled_template.hpp"
#include "core/search/records.hpp"

namespace quillet {

Result<Match> refine_final_match_unmasked(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                          const Candidate& candidate, const MatchConfig& config);

Result<Match> refine_final_match(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                 const Candidate& candidate, const MatchConfig& config);

}  // namespace quillet
