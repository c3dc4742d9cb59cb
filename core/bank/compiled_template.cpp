#include "core/bank/compiled_template.hpp"

#include "core/image/pyramid.hpp"
#include "core/util/trace.hpp"

namespace quillet {

namespace {

struct LevelPlans {
    std::vector<TemplatePlan> plans;
    std::vector<SsdTemplatePlan> ssd_plans;
};

// The unmasked plans of every level, both metrics, whichever metric is used later.
Result<LevelPlans> build_level_plans(const std::vector<OwnedImage>& levels) {
    LevelPlans out;
    out.plans.reserve(levels.size());
    out.ssd_plans.reserve(levels.size());
    for (const OwnedImage& level : levels) {
        auto plan = TemplatePlan::from_view(level.view());
        if (!plan) return std::unexpected(plan.error());
        auto ssd = SsdTemplatePlan::from_view(level.view());
        if (!ssd) return std::unexpected(ssd.error());
        out.plans.push_back(std::move(*plan));
        out.ssd_plans.push_back(std::move(*ssd));
    }
    return out;
}

// Unrotated: a coarsest level other than level 0 needs kMinCoarsestPixels pixels.
void drop_sparse_coarse_levels(std::vector<OwnedImage>& levels) {
    while (levels.size() > 1 && levels.back().width() * levels.back().height() < kMinCoarsestPixels) levels.pop_back();
}

Result<AngleGrid> level_grid(const CompileConfig& config, std::size_t num_levels, std::size_t level) {
    const float step = level_step_deg(config.coarse_step_deg, config.min_step_deg, num_levels, level);
    auto allowed = check_angle_step(step);
    if (!allowed) return std::unexpected(allowed.error());
    return AngleGrid::create(-180.0f, 180.0f, step);
}

// Whether rotations can serve the coarse search: not when an angle's template is degenerate or
// keeps fewer than kMinCoarsestPixels valid pixels. Walked in angle order, so the lowest
// failing angle decides; errors of any other kind are returned.
Result<bool> usable_as_coarsest(const std::vector<Result<RotatedTemplate>>& built) {
    for (const auto& rotation : built) {
        if (!rotation) {
            if (rotation.error().is<err::DegenerateTemplate>()) return false;
            return std::unexpected(rotation.error());
        }
        if (rotation->zncc_plan.coords.size() < kMinCoarsestPixels) return false;
    }
    return true;
}

// Every rotation, or the error of the lowest failing angle.
Result<std::vector<RotatedTemplate>> all_built(std::vector<Result<RotatedTemplate>> built) {
    std::vector<RotatedTemplate> out;
    out.reserve(built.size());
    for (auto& rotation : built) {
        if (!rotation) return std::unexpected(rotation.error());
        out.push_back(std::move(*rotation));
    }
    return out;
}

// Removes coarse levels until every rotation of the coarsest one is usable by the coarse
// search, and returns those rotations. Level 0 is neither removed nor checked: once it is the
// only level left, the result is empty.
Result<std::vector<RotatedTemplate>> drop_levels_unfit_for_rotated_search(std::vector<OwnedImage>& levels,
                                                                          const CompileConfig& config) {
    while (levels.size() > 1) {
        const std::size_t coarsest = levels.size() - 1;
        auto grid = level_grid(config, levels.size(), coarsest);
        if (!grid) return std::unexpected(grid.error());
        auto built = build_level_rotations(levels[0].view(), config.fill_value, coarsest, *grid);
        auto usable = usable_as_coarsest(built);
        if (!usable) return std::unexpected(usable.error());
        if (*usable) return all_built(std::move(built));
        levels.pop_back();
    }
    return std::vector<RotatedTemplate>{};
}

void fill_slots(const LevelBank& bank, std::vector<RotatedTemplate> rotations) {
    if (rotations.size() != bank.grid.count) fatal("one precomputed rotation per coarsest angle");
    for (std::size_t i = 0; i < rotations.size(); ++i) {
        bank.rotations[i].store(std::make_unique<RotatedTemplate>(std::move(rotations[i])));
    }
}

}  // namespace

Status trim_degenerate_levels(std::vector<OwnedImage>& levels, std::size_t min_dim) {
    std::string_view reason = "zero variance";
    while (!levels.empty()) {
        const OwnedImage& level = levels.back();
        if (level.width() < min_dim || level.height() < min_dim) {
            reason = "template too small for rotation";
            levels.pop_back();
            continue;
        }
        auto plan = TemplatePlan::from_view(level.view());
        if (plan) return {};
        if (!plan.error().is<err::DegenerateTemplate>()) return std::unexpected(plan.error());
        reason = plan.error().as<err::DegenerateTemplate>().reason;
        levels.pop_back();
    }
    return fail(err::DegenerateTemplate{reason});
}

Result<CompiledTemplate> CompiledTemplate::compile_unrotated(const Template& tpl, std::size_t max_levels) {
    if (max_levels == 0) return fail(err::InvalidConfig{"max_levels must be at least 1"});
    trace::Span span("compile_template", {{"rotation", false}, {"max_levels", std::uint64_t{max_levels}}});
    auto pyramid = ImagePyramid::build_u8(tpl.view(), max_levels);
    if (!pyramid) return std::unexpected(pyramid.error());
    std::vector<OwnedImage>& levels = pyramid->levels;
    auto trimmed = trim_degenerate_levels(levels, 1);
    if (!trimmed) return std::unexpected(trimmed.error());
    drop_sparse_coarse_levels(levels);
    auto plans = build_level_plans(levels);
    if (!plans) return std::unexpected(plans.error());
    return CompiledTemplate(CompiledTemplateNoRot{std::move(levels), std::move(plans->plans), std::move(plans->ssd_plans)});
}

Result<CompiledTemplate> CompiledTemplate::compile_rotated(const Template& tpl, const CompileConfig& config) {
    trace::Span span("compile_template", {{"rotation", true}, {"max_levels", std::uint64_t{config.max_levels}}});
    auto pyramid = ImagePyramid::build_u8(tpl.view(), config.max_levels);
    if (!pyramid) return std::unexpected(pyramid.error());
    std::vector<OwnedImage>& levels = pyramid->levels;
    auto trimmed = trim_degenerate_levels(levels, 3);
    if (!trimmed) return std::unexpected(trimmed.error());
    auto coarsest_rotations = drop_levels_unfit_for_rotated_search(levels, config);
    if (!coarsest_rotations) return std::unexpected(coarsest_rotations.error());
    auto plans = build_level_plans(levels);
    if (!plans) return std::unexpected(plans.error());

    std::vector<LevelBank> banks;
    banks.reserve(levels.size());
    for (std::size_t level = 0; level < levels.size(); ++level) {
        auto grid = level_grid(config, levels.size(), level);
        if (!grid) return std::unexpected(grid.error());
        banks.push_back(LevelBank{std::make_unique<RotationSlot[]>(grid->count), *grid});
    }

    if (config.precompute_coarsest) {
        // With more than one level the coarsest rotations were built, and all succeeded, while
        // choosing the coarsest level; level 0 alone has not been built yet.
        if (levels.size() == 1) {
            coarsest_rotations = all_built(build_level_rotations(levels[0].view(), config.fill_value, 0, banks[0].grid));
            if (!coarsest_rotations) return std::unexpected(coarsest_rotations.error());
        }
        fill_slots(banks.back(), std::move(*coarsest_rotations));
    }

    return CompiledTemplate(CompiledTemplateRot{std::move(levels), std::move(banks), std::move(plans->plans),
                                                std::move(plans->ssd_plans), config});
}

const std::vector<OwnedImage>& CompiledTemplate::levels() const {
    return std::visit([](const auto& v) -> const std::vector<OwnedImage>& { return v.levels; }, variant_);
}

const std::vector<TemplatePlan>& CompiledTemplate::plans() const {
    return std::visit([](const auto& v) -> const std::vector<TemplatePlan>& { return v.plans; }, variant_);
}

const std::vector<SsdTemplatePlan>& CompiledTemplate::ssd_plans() const {
    return std::visit([](const auto& v) -> const std::vector<SsdTemplatePlan>& { return v.ssd_plans; }, variant_);
}

Result<const RotatedTemplate*> CompiledTemplate::rotated(std::size_t level, std::size_t angle_idx) const {
    const CompiledTemplateRot* rot = with_rotation();
    if (!rot) return fail(err::RotationUnavailable{"compiled without rotation support"});
    if (level >= rot->banks.size()) return fail(err::IndexOutOfBounds{level, rot->banks.size(), "level"});
    const LevelBank& bank = rot->banks[level];
    if (angle_idx >= bank.grid.count) return fail(err::IndexOutOfBounds{angle_idx, bank.grid.count, "angle_idx"});
    if (level >= rot->levels.size()) return fail(err::IndexOutOfBounds{level, rot->levels.size(), "level"});

    const RotationSlot& slot = bank.rotations[angle_idx];
    if (const RotatedTemplate* filled = slot.get()) return filled;
    // Built without any lock: a racing thread may build the same slot, and the first store wins.
    auto built = build_rotated_template(rot->levels[0].view(), rot->config.fill_value, level, bank.grid.angle_at(angle_idx));
    if (!built) return std::unexpected(built.error());
    return &slot.store(std::make_unique<RotatedTemplate>(std::move(*built)));
}

}  // namespace quillet
