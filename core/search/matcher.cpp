#include "core/search/matcher.hpp"

#include <algorithm>
#include <functional>
#include <limits>
#include <type_traits>

#include "core/image/integral.hpp"
#include "core/image/pyramid.hpp"
#include "core/search/coarse.hpp"
#include "core/search/final_refine.hpp"
#include "core/search/refine.hpp"
#include "core/util/trace.hpp"

namespace quillet {

namespace {

using Candidates = Result<std::vector<Candidate>>;

// The three stage operations of one search. The integral images of the searched level are
// passed along; only the integral variants read them.
struct Stages {
    std::function<Candidates(const ImageView& level_image, std::size_t level, const IntegralImages*)> coarse;
    std::function<Candidates(const ImageView& level_image, std::size_t level, const std::vector<Candidate>&, const IntegralImages*)> refine;
    std::function<Result<Match>(const ImageView& image, const Candidate&)> final_refine;
};

// Integral images pay off only for the serial unrotated ZNCC scans, the one path that reads them.
bool uses_integral_images(const MatchConfig& config) {
    return config.rotation == RotationMode::Disabled && !config.parallel && config.metric == Metric::Zncc;
}

// Calls a stage operation, handing the integral variants the level's integral images.
template <class Stage, class... Args>
Candidates call_stage(Stage stage, const IntegralImages* integrals, const Args&... args) {
    if constexpr (std::is_invocable_v<Stage, const Args&..., const IntegralImages&>) {
        if (!integrals) fatal("integrals built for unmasked ZNCC");
        return stage(args..., *integrals);
    } else {
        return stage(args...);
    }
}

// The one place where the configuration picks the stage operations.
Stages select_stages(const CompiledTemplate& compiled, const MatchConfig& config) {
    auto stages_with = [&](auto coarse, auto refine, auto final_refine) {
        return Stages{
            [&compiled, &config, coarse](const ImageView& im, std::size_t l, const IntegralImages* ii) {
                return call_stage(coarse, ii, im, compiled, l, config);
            },
            [&compiled, &config, refine](const ImageView& im, std::size_t l, const std::vector<Candidate>& c, const IntegralImages* ii) {
                return call_stage(refine, ii, im, compiled, l, c, config);
            },
            [&compiled, &config, final_refine](const ImageView& im, const Candidate& c) { return final_refine(im, compiled, 0, c, config); }};
    };
    if (config.rotation == RotationMode::Enabled) {
        return config.parallel ? stages_with(coarse_search_level_par, refine_to_finer_level_par, refine_final_match)
                               : stages_with(coarse_search_level, refine_to_finer_level_batch, refine_final_match);
    }
    if (config.parallel)
        return stages_with(coarse_search_level_unmasked_par, refine_to_finer_level_unmasked_par, refine_final_match_unmasked);
    if (uses_integral_images(config))
        return stages_with(coarse_search_level_unmasked_zncc_integral, refine_to_finer_level_unmasked_zncc_integral,
                           refine_final_match_unmasked);
    return stages_with(coarse_search_level_unmasked, refine_to_finer_level_unmasked, refine_final_match_unmasked);
}

// The refined match, or the candidate itself when the refinement fails.
Match final_match(const Stages& stages, const ImageView& image, const Candidate& c) {
    auto refined = stages.final_refine(image, c);
    if (refined) return *refined;
    return Match{static_cast<float>(c.x), static_cast<float>(c.y), c.angle_deg, c.score};
}

// The search's working copy of the configuration for k matches: a wider beam, and enough
// peaks per scan for the beam to fill with distinct instances.
MatchConfig widened_for_topk(MatchConfig config, std::size_t k) {
    if (k < 2) return config;
    config.beam_width = std::max(config.beam_width, k);
    const std::size_t m = config.rotation == RotationMode::Enabled ? 4 : 8;
    std::size_t wanted = 0;
    if (__builtin_mul_overflow(config.beam_width, m, &wanted)) wanted = std::numeric_limits<std::size_t>::max();
    config.per_angle_topk = std::max(config.per_angle_topk, wanted);
    return config;
}

}  // namespace

Matcher::Matcher(CompiledTemplate compiled) : compiled_(std::make_shared<const CompiledTemplate>(std::move(compiled))) {}

Matcher::Matcher(std::shared_ptr<const CompiledTemplate> compiled, MatchConfig config)
    : compiled_(std::move(compiled)), config_(config) {}

Result<std::vector<Candidate>> Matcher::match_candidates_with_cfg(const ImageView& image, const MatchConfig& config) const {
    if (config.rotation == RotationMode::Enabled && !compiled_->has_angle_banks())
        return fail(err::RotationUnavailable{"rotation enabled but template compiled without angle banks"});
    auto pyramid = ImagePyramid::build_u8(image, config.max_image_levels);
    if (!pyramid) return std::unexpected(pyramid.error());
    const std::size_t L = std::min(compiled_->num_levels(), pyramid->levels.size());
    trace::Span span("coarse_to_fine", {{"levels", std::uint64_t{L}}, {"parallel", config.parallel}});
    if (L == 0) return fail(err::InvalidDimensions{image.width, image.height});

    std::vector<IntegralImages> integrals;
    if (uses_integral_images(config)) {
        for (std::size_t l = 0; l < L; ++l) {
            auto ii = IntegralImages::from_u8(pyramid->levels[l].view());
            if (!ii) return std::unexpected(ii.error());
            integrals.push_back(std::move(*ii));
        }
    }
    const Stages stages = select_stages(*compiled_, config);
    auto integrals_of = [&](std::size_t l) { return integrals.empty() ? nullptr : &integrals[l]; };
    auto level_image = [&](std::size_t l) -> Result<ImageView> {
        if (l >= pyramid->levels.size()) return fail(err::IndexOutOfBounds{l, pyramid->levels.size(), "image level"});
        return pyramid->levels[l].view();
    };

    auto coarse_image = level_image(L - 1);
    if (!coarse_image) return std::unexpected(coarse_image.error());
    auto candidates = stages.coarse(*coarse_image, L - 1, integrals_of(L - 1));
    if (!candidates) return candidates;
    if (candidates->empty()) return fail(err::NoCandidates{"no coarse candidates"});
    for (std::size_t l = L - 1; l-- > 0;) {
        auto finer_image = level_image(l);
        if (!finer_image) return std::unexpected(finer_image.error());
        candidates = stages.refine(*finer_image, l, *candidates, integrals_of(l));
        if (!candidates) return candidates;
        if (candidates->empty()) return fail(err::NoCandidates{"no candidates after refinement"});
    }
    return candidates;
}

Result<Match> Matcher::match_image(const ImageView& image) const {
    trace::Span span("match_image", {{"width", std::uint64_t{image.width}}, {"height", std::uint64_t{image.height}}});
    if (auto ok = config_.validate(); !ok) return std::unexpected(ok.error());
    auto candidates = match_candidates_with_cfg(image, config_);
    if (!candidates) return std::unexpected(candidates.error());
    const Stages stages = select_stages(*compiled_, config_);
    return final_match(stages, image, candidates->front());
}

Result<std::vector<Match>> Matcher::match_image_topk(const ImageView& image, std::size_t k) const {
    if (auto ok = config_.validate(); !ok) return std::unexpected(ok.error());
    if (k == 0) return std::vector<Match>{};
    const MatchConfig config = widened_for_topk(config_, k);
    auto candidates = match_candidates_with_cfg(image, config);
    if (!candidates) return std::unexpected(candidates.error());
    const Stages stages = select_stages(*compiled_, config);
    std::vector<Match> matches;
    matches.reserve(candidates->size());
    for (const Candidate& c : *candidates) matches.push_back(final_match(stages, image, c));
    std::stable_sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) { return a.score > b.score; });
    if (matches.size() > k) matches.resize(k);
    return matches;
}

}  // namespace quillet
