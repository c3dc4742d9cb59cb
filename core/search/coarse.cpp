#include "core/search/coarse.hpp"

#include "core/kernel/parallel.hpp"
#include "core/search/kernels.hpp"
#include "core/search/pool.hpp"
#include "core/util/trace.hpp"

namespace quillet {

namespace {

using Candidates = Result<std::vector<Candidate>>;

Candidates coarse_candidates(Result<std::vector<Peak>> peaks, std::size_t level, const MatchConfig& config, const AngleOf& angle_of) {
    if (!peaks) return std::unexpected(peaks.error());
    return candidates_from_pool(std::move(*peaks), level, config, angle_of, "coarse_candidates");
}

Result<std::vector<Peak>> scan_full_par(const ImageView& image, const TemplatePlan& plan, const MatchConfig& c) {
    return zncc_unmasked_scan_full_par(image, plan, 0, c.per_angle_topk, c.min_var_i, c.min_score);
}

Result<std::vector<Peak>> scan_full_par(const ImageView& image, const SsdTemplatePlan& plan, const MatchConfig& c) {
    return ssd_unmasked_scan_full_par(image, plan, 0, c.per_angle_topk, c.min_var_i, c.min_score);
}

Candidates coarse_search_unmasked(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                  const MatchConfig& config, bool parallel) {
    trace::Span span = stage_span("coarse_search", {"level", std::uint64_t{level}}, {"angles", std::int64_t{1}}, parallel);
    auto peaks = with_unmasked_kernel(config.metric, [&](auto kernel) -> Result<std::vector<Peak>> {
        auto plan = level_plan(kernel, compiled, level);
        if (!plan) return std::unexpected(plan.error());
        if (parallel) return scan_full_par(image, **plan, config);
        return decltype(kernel)::scan_range(image, **plan, 0, ScanRegion::full(), config.per_angle_topk, config.min_var_i,
                                            config.min_score);
    });
    return coarse_candidates(std::move(peaks), level, config, kNoAngle);
}

Candidates coarse_search_over_angles(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                     const MatchConfig& config, bool parallel) {
    const CompiledTemplateRot* rot = compiled.with_rotation();
    if (!rot || level >= rot->banks.size()) return fail(err::IndexOutOfBounds{level, compiled.num_levels(), "level"});
    const AngleGrid& grid = rot->banks[level].grid;
    const auto angles = static_cast<std::uint64_t>(grid.count);
    trace::Span span = stage_span("coarse_search", {"level", std::uint64_t{level}}, {"angles", angles}, parallel);
    auto pool = pool_peaks(grid.count, parallel, [&](std::size_t a) -> Result<std::vector<Peak>> {
        auto rotated = compiled.rotated(level, a);
        if (!rotated) return std::unexpected(rotated.error());
        return with_masked_kernel(config.metric, [&](auto kernel) {
            return decltype(kernel)::scan_range(image, plan_for(kernel, **rotated), a, ScanRegion::full(), config.per_angle_topk,
                                                config.min_var_i, config.min_score);
        });
    });
    return coarse_candidates(std::move(pool), level, config, [&grid](std::size_t i) { return grid.angle_at(i); });
}

}  // namespace

Candidates coarse_search_level_unmasked(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                        const MatchConfig& config) {
    return coarse_search_unmasked(image, compiled, level, config, false);
}

Candidates coarse_search_level_unmasked_par(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                            const MatchConfig& config) {
    return coarse_search_unmasked(image, compiled, level, config, true);
}

Candidates coarse_search_level_unmasked_zncc_integral(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                                      const MatchConfig& config, const IntegralImages& integrals) {
    trace::Span span = stage_span("coarse_search", {"level", std::uint64_t{level}}, {"angles", std::int64_t{1}}, false);
    auto plan = level_plan(ZnccUnmaskedSimd{}, compiled, level);
    if (!plan) return std::unexpected(plan.error());
    return coarse_candidates(ZnccUnmaskedSimd::scan_range_integral(image, **plan, 0, ScanRegion::full(), config.per_angle_topk,
                                                                   config.min_var_i, config.min_score, integrals),
                             level, config, kNoAngle);
}

Candidates coarse_search_level(const ImageView& image, const CompiledTemplate& compiled, std::size_t level, const MatchConfig& config) {
    return coarse_search_over_angles(image, compiled, level, config, false);
}

Candidates coarse_search_level_par(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                   const MatchConfig& config) {
    return coarse_search_over_angles(image, compiled, level, config, true);
}

}  // namespace quillet
