// The coarse search: every placement of the coarsest searched level, without or with rotation.
#pragma once

#include <vector>

#include "core/bank/compiled_template.hpp"
#include "core/image/integral.hpp"
#include "core/search/records.hpp"

namespace quillet {

// Serial scan of the configured metric.
Result<std::vector<Candidate>> coarse_search_level_unmasked(const ImageView& image, const CompiledTemplate& compiled,
                                                            std::size_t level, const MatchConfig& config);
// Placement rows spread over the worker pool.
Result<std::vector<Candidate>> coarse_search_level_unmasked_par(const ImageView& image, const CompiledTemplate& compiled,
                                                                std::size_t level, const MatchConfig& config);
// Serial ZNCC with window sums from the level's integral images (the metric is not consulted).
Result<std::vector<Candidate>> coarse_search_level_unmasked_zncc_integral(const ImageView& image, const CompiledTemplate& compiled,
                                                                          std::size_t level, const MatchConfig& config,
                                                                          const IntegralImages& integrals);

// Every angle of the level's grid, ascending, on the calling thread.
Result<std::vector<Candidate>> coarse_search_level(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                                   const MatchConfig& config);
// One task per angle on the worker pool; the same candidates as coarse_search_level.
Result<std::vector<Candidate>> coarse_search_level_par(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                                       const MatchConfig& config);

}  // namespace quillet
