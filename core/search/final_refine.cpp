#include "core/search/final_refine.hpp"

#include <array>
#include <cmath>

#include "core/refine/quad1d.hpp"
#include "core/refine/quad2d.hpp"
#include "core/search/kernels.hpp"
#include "core/util/trace.hpp"

namespace quillet {

namespace {

// Checks shared by both refinements once the level is known to exist: the template level
// fits the image and the candidate is a valid placement.
Status check_placement(const ImageView& image, const CompiledTemplate& compiled, std::size_t level, const Candidate& c) {
    const OwnedImage& tpl = compiled.levels()[level];
    const std::size_t w = tpl.width(), h = tpl.height();
    const err::RoiOutOfBounds roi{c.x, c.y, w, h, image.width, image.height};
    if (image.width < w || image.height < h) return fail(roi);
    if (c.x > image.width - w || c.y > image.height - h) return fail(roi);
    return {};
}

Status check_level(const CompiledTemplate& compiled, std::size_t level) {
    if (level >= compiled.num_levels()) return fail(err::IndexOutOfBounds{level, compiled.num_levels(), "level"});
    return {};
}

// Scores of the candidate and its four edge neighbours in the 3x3 row-major layout of the
// fit; neighbours outside the valid placements, and the corners, keep "no score".
template <class K>
std::array<float, 9> score_cross(const ImageView& image, const typename K::Plan& plan, std::size_t x, std::size_t y, float min_var_i) {
    const std::size_t max_x = image.width - plan.width, max_y = image.height - plan.height;
    std::array<float, 9> s;
    s.fill(kNoScore);
    s[4] = K::score_at(image, plan, x, y, min_var_i);
    if (x > 0) s[3] = K::score_at(image, plan, x - 1, y, min_var_i);
    if (x < max_x) s[5] = K::score_at(image, plan, x + 1, y, min_var_i);
    if (y > 0) s[1] = K::score_at(image, plan, x, y - 1, min_var_i);
    if (y < max_y) s[7] = K::score_at(image, plan, x, y + 1, min_var_i);
    return s;
}

float score_or_fallback(float centre, const Candidate& c) { return std::isfinite(centre) ? centre : c.score; }

}  // namespace

Result<Match> refine_final_match_unmasked(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                          const Candidate& candidate, const MatchConfig& config) {
    trace::Span span("final_refinement", {});
    if (auto ok = check_level(compiled, level); !ok) return std::unexpected(ok.error());
    if (auto ok = check_placement(image, compiled, level, candidate); !ok) return std::unexpected(ok.error());
    return with_unmasked_kernel(config.metric, [&](auto kernel) -> Result<Match> {
        using K = decltype(kernel);
        auto plan = level_plan(kernel, compiled, level);
        if (!plan) return std::unexpected(plan.error());
        const auto scores = score_cross<K>(image, **plan, candidate.x, candidate.y, config.min_var_i);
        const auto [x, y] = refine_subpixel_2d(candidate.x, candidate.y, scores);
        return Match{x, y, 0.0f, score_or_fallback(scores[4], candidate)};
    });
}

Result<Match> refine_final_match(const ImageView& image, const CompiledTemplate& compiled, std::size_t level,
                                 const Candidate& candidate, const MatchConfig& config) {
    trace::Span span("final_refinement", {});
    const CompiledTemplateRot* rot = compiled.with_rotation();
    if (!rot || level >= rot->banks.size() || level >= compiled.num_levels())
        return fail(err::IndexOutOfBounds{level, compiled.num_levels(), "level"});
    if (auto ok = check_placement(image, compiled, level, candidate); !ok) return std::unexpected(ok.error());
    auto rotated = compiled.rotated(level, candidate.angle_idx);
    if (!rotated) return std::unexpected(rotated.error());
    const AngleGrid& grid = rot->banks[level].grid;
    if (grid.count == 0) fatal("angle grid has angles");

    return with_masked_kernel(config.metric, [&](auto kernel) -> Result<Match> {
        using K = decltype(kernel);
        const std::size_t x = candidate.x, y = candidate.y;
        const auto scores = score_cross<K>(image, plan_for(kernel, **rotated), x, y, config.min_var_i);
        const auto [x_sub, y_sub] = refine_subpixel_2d(x, y, scores);

        // The grid wraps: the first angle's predecessor is the last.
        const std::size_t n = grid.count, i = candidate.angle_idx;
        auto score_at_angle = [&](std::size_t a) -> Result<float> {
            auto r = compiled.rotated(level, a);
            if (!r) return std::unexpected(r.error());
            return K::score_at(image, plan_for(kernel, **r), x, y, config.min_var_i);
        };
        auto prev = score_at_angle((i + n - 1) % n);
        if (!prev) return std::unexpected(prev.error());
        auto next = score_at_angle((i + 1) % n);
        if (!next) return std::unexpected(next.error());

        const float centre = score_or_fallback(scores[4], candidate);
        const float base = grid.angle_at(i);
        const float d = quad_peak_offset_1d(*prev, centre, *next).value_or(0.0f);
        return Match{x_sub, y_sub, wrap_deg(grid.step_deg * d + base), centre};
    });
}

}  // namespace quillet
