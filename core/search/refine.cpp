#include "core/search/refine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <span>

#include "core/search/kernels.hpp"
#include "core/search/pool.hpp"
#include "core/util/trace.hpp"

namespace quillet {

namespace {

using Candidates = Result<std::vector<Candidate>>;
using Peaks = Result<std::vector<Peak>>;

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

std::size_t saturating_add(std::size_t a, std::size_t b) { return a > kMaxSize - b ? kMaxSize : a + b; }

// Largest valid placements of template level `level` in the level image.
struct LevelBounds {
    std::size_t max_x;
    std::size_t max_y;
};

Result<LevelBounds> level_bounds(const ImageView& image, const CompiledTemplate& compiled, std::size_t level) {
    const auto& levels = compiled.levels();
    if (level >= levels.size()) return fail(err::IndexOutOfBounds{level, levels.size(), "level"});
    const std::size_t tw = levels[level].width(), th = levels[level].height();
    if (image.width < tw || image.height < th) return fail(err::RoiOutOfBounds{0, 0, tw, th, image.width, image.height});
    return LevelBounds{image.width - tw, image.height - th};
}

// Placements within roi_radius of the candidate's doubled position, or nothing when the
// window lies outside the valid placements.
std::optional<ScanRegion> refine_window(const Candidate& c, LevelBounds bounds, std::size_t r) {
    const std::size_t X = saturating_add(c.x, c.x), Y = saturating_add(c.y, c.y);
    const std::size_t x0 = X > r ? X - r : 0, y0 = Y > r ? Y - r : 0;
    if (x0 > bounds.max_x || y0 > bounds.max_y) return std::nullopt;
    return ScanRegion{x0, y0, std::min(bounds.max_x, saturating_add(X, r)), std::min(bounds.max_y, saturating_add(Y, r))};
}

// Scans every candidate's window with scan(candidate, window), pools the peaks in candidate
// order and makes the level's candidates from them.
template <class ScanWindow>
Candidates refine_windows(const std::vector<Candidate>& candidates, LevelBounds bounds, std::size_t level, const MatchConfig& config,
                          bool parallel, ScanWindow&& scan, const AngleOf& angle_of) {
    auto pool = pool_peaks(candidates.size(), parallel, [&](std::size_t i) -> Peaks {
        auto window = refine_window(candidates[i], bounds, config.roi_radius);
        if (!window) return std::vector<Peak>{};
        return scan(candidates[i], *window);
    });
    if (!pool) return std::unexpected(pool.error());
    return candidates_from_pool(std::move(*pool), level, config, angle_of, "refined_candidates");
}

trace::Span refine_span(std::string_view name, std::size_t level, std::size_t candidates, bool parallel) {
    return stage_span(name, {"level", std::uint64_t{level}}, {"candidates", std::uint64_t{candidates}}, parallel);
}

Candidates refine_unmasked(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                           const std::vector<Candidate>& candidates, const MatchConfig& config, bool parallel,
                           const IntegralImages* integrals) {
    trace::Span span = refine_span("refine_level", level, candidates.size(), parallel);
    if (candidates.empty()) return std::vector<Candidate>{};
    auto bounds = level_bounds(image, compiled, level);
    if (!bounds) return std::unexpected(bounds.error());
    const std::size_t k = config.per_angle_topk;
    if (integrals) {
        auto plan = level_plan(ZnccUnmaskedSimd{}, compiled, level);
        if (!plan) return std::unexpected(plan.error());
        auto scan = [&](const Candidate&, ScanRegion window) {
            return ZnccUnmaskedSimd::scan_range_integral(image, **plan, 0, window, k, config.min_var_i, config.min_score, *integrals);
        };
        return refine_windows(candidates, *bounds, level, config, parallel, scan, kNoAngle);
    }
    return with_unmasked_kernel(config.metric, [&](auto kernel) -> Candidates {
        auto plan = level_plan(kernel, compiled, level);
        if (!plan) return std::unexpected(plan.error());
        auto scan = [&](const Candidate&, ScanRegion window) {
            return decltype(kernel)::scan_range(image, **plan, 0, window, k, config.min_var_i, config.min_score);
        };
        return refine_windows(candidates, *bounds, level, config, parallel, scan, kNoAngle);
    });
}

// One masked scan of the window per angle, appended in angle order.
Peaks scan_angles_one_by_one(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                             const std::vector<std::size_t>& angles, ScanRegion window, const MatchConfig& config) {
    std::vector<Peak> out;
    for (std::size_t a : angles) {
        auto rotated = compiled.rotated(level, a);
        if (!rotated) return std::unexpected(rotated.error());
        auto peaks = with_masked_kernel(config.metric, [&](auto kernel) {
            return decltype(kernel)::scan_range(image, plan_for(kernel, **rotated), a, window, config.per_angle_topk,
                                                config.min_var_i, config.min_score);
        });
        if (!peaks) return std::unexpected(peaks.error());
        out.insert(out.end(), peaks->begin(), peaks->end());
    }
    return out;
}

// Scores all angles over rows gathered once per window row, a row of placements at a time;
// each angle keeps its own best peaks, pushed in increasing x as a placement-by-placement
// walk would, so the result equals scan_angles_one_by_one.
Peaks scan_angles_batched(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                          const std::vector<std::size_t>& angles, ScanRegion window, const MatchConfig& config) {
    std::vector<const RotatedTemplate*> rotations;
    rotations.reserve(angles.size());
    for (std::size_t a : angles) {
        auto rotated = compiled.rotated(level, a);
        if (!rotated) return std::unexpected(rotated.error());
        rotations.push_back(*rotated);
    }
    const std::size_t th = compiled.levels()[level].height();
    std::vector<TopK> best(angles.size(), TopK(config.per_angle_topk));
    std::vector<std::span<const std::uint8_t>> rows(th);
    std::vector<float> scores(window.x1 - window.x0 + 1);
    for (std::size_t y = window.y0; y <= window.y1; ++y) {
        for (std::size_t j = 0; j < th; ++j) {
            auto row = image.row(y + j);
            if (!row) fatal("row within bounds");
            rows[j] = *row;
        }
        for (std::size_t i = 0; i < angles.size(); ++i) {
            with_masked_kernel(config.metric, [&](auto kernel) {
                decltype(kernel)::score_row_cached(rows, plan_for(kernel, *rotations[i]), window.x0, scores, config.min_var_i);
                return 0;
            });
            for (std::size_t x = window.x0; x <= window.x1; ++x) {
                const float score = scores[x - window.x0];
                if (std::isfinite(score) && score >= config.min_score) best[i].push(Peak{x, y, angles[i], score});
            }
        }
    }
    std::vector<Peak> out;
    for (TopK& top : best) {
        auto peaks = std::move(top).into_sorted_desc();
        out.insert(out.end(), peaks.begin(), peaks.end());
    }
    return out;
}

Candidates refine_over_angles(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                              const std::vector<Candidate>& candidates, const MatchConfig& config, bool parallel) {
    trace::Span span = refine_span(parallel ? "refine_level" : "refine_level_batch", level, candidates.size(), parallel);
    if (candidates.empty()) return std::vector<Candidate>{};
    const CompiledTemplateRot* rot = compiled.with_rotation();
    if (!rot || level >= rot->banks.size() || level >= compiled.num_levels())
        return fail(err::IndexOutOfBounds{level, compiled.num_levels(), "level"});
    auto bounds = level_bounds(image, compiled, level);
    if (!bounds) return std::unexpected(bounds.error());
    const AngleGrid& grid = rot->banks[level].grid;
    const float half_range = static_cast<float>(config.angle_half_range_steps) * grid.step_deg;
    auto scan = [&](const Candidate& c, ScanRegion window) -> Peaks {
        const auto angles = grid.indices_within(c.angle_deg, half_range);
        if (angles.empty()) return std::vector<Peak>{};
        return parallel ? scan_angles_one_by_one(image, compiled, level, angles, window, config)
                        : scan_angles_batched(image, compiled, level, angles, window, config);
    };
    return refine_windows(candidates, *bounds, level, config, parallel, scan, [&grid](std::size_t i) { return grid.angle_at(i); });
}

}  // namespace

Candidates refine_to_finer_level_unmasked(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                          const std::vector<Candidate>& candidates, const MatchConfig& config) {
    return refine_unmasked(image, compiled, level, candidates, config, false, nullptr);
}

Candidates refine_to_finer_level_unmasked_par(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                              const std::vector<Candidate>& candidates, const MatchConfig& config) {
    return refine_unmasked(image, compiled, level, candidates, config, true, nullptr);
}

Candidates refine_to_finer_level_unmasked_zncc_integral(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                                        const std::vector<Candidate>& candidates, const MatchConfig& config,
                                                        const IntegralImages& integrals) {
    return refine_unmasked(image, compiled, level, candidates, config, false, &integrals);
}

Candidates refine_to_finer_level_par(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                     const std::vector<Candidate>& candidates, const MatchConfig& config) {
    return refine_over_angles(image, compiled, level, candidates, config, true);
}

Candidates refine_to_finer_level_batch(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                       const std::vector<Candidate>& candidates, const MatchConfig& config) {
    return refine_over_angles(image, compiled, level, candidates, config, false);
}

}  // namespace quillet
