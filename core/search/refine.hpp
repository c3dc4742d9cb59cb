// Level refinement: candidates of level + 1 carried to `level` through small windows around
// their doubled positions (and, with rotation, the nearby angles of the finer grid).
#pragma once

#include <vector>

#include "core/bank/compiled_template.hpp"
#include "core/image/integral.hpp"
#include "core/search/records.hpp"

namespace quillet {

Result<std::vector<Candidate>> refine_to_finer_level_unmasked(const ImageView& image, const CompiledTemplate& compiled,
                                                              std::size_t level, const std::vector<Candidate>& candidates,
                                                              const MatchConfig& config);
// One task per candidate on the worker pool; the same candidates as the serial variant.
Result<std::vector<Candidate>> refine_to_finer_level_unmasked_par(const ImageView& image, const CompiledTemplate& compiled,
                                                                  std::size_t level, const std::vector<Candidate>& candidates,
                                                                  const MatchConfig& config);
Result<std::vector<Candidate>> refine_to_finer_level_unmasked_zncc_integral(const ImageView& image, const CompiledTemplate& compiled,
                                                                            std::size_t level, const std::vector<Candidate>& candidates,
                                                                            const MatchConfig& config, const IntegralImages& integrals);

// With rotation: one task per candidate, one masked scan per nearby angle.
Result<std::vector<Candidate>> refine_to_finer_level_par(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                                         const std::vector<Candidate>& candidates, const MatchConfig& config);
// With rotation, serial: each window row is gathered once and scored for every nearby angle.
Result<std::vector<Candidate>> refine_to_finer_level_batch(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                                           const std::vector<Candidate>& candidates, const MatchConfig& config);

}  // namespace quillet
