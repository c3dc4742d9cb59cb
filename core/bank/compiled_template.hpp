// A template compiled once into everything the search reads: its trimmed pyramid, the
// unmasked plans of every level and, when compiled with rotation, an angle bank per level.
#pragma once

#include <variant>
#include <vector>

#include "core/bank/rotated.hpp"
#include "core/template/plan.hpp"
#include "core/template/template.hpp"

namespace quillet {

struct CompiledTemplateNoRot {
    std::vector<OwnedImage> levels;
    std::vector<TemplatePlan> plans;
    std::vector<SsdTemplatePlan> ssd_plans;
};

struct CompiledTemplateRot {
    std::vector<OwnedImage> levels;
    std::vector<LevelBank> banks;
    std::vector<TemplatePlan> plans;
    std::vector<SsdTemplatePlan> ssd_plans;
    CompileConfig config;
};

class CompiledTemplate {
public:
    // Keeps the pyramid levels down to the coarsest one that is not flat and, unless it is
    // level 0, has at least kMinCoarsestPixels pixels.
    static Result<CompiledTemplate> compile_unrotated(const Template& tpl, std::size_t max_levels);
    // Expects a configuration that passed validate(); still refuses, before allocating any grid,
    // a step finer than check_angle_step allows. Levels are at least 3x3, and the coarsest one,
    // unless it is level 0, has at every angle of its grid a rotation with at least
    // kMinCoarsestPixels valid pixels. Those rotations fill its slots under precompute_coarsest.
    static Result<CompiledTemplate> compile_rotated(const Template& tpl, const CompileConfig& config);

    std::size_t num_levels() const { return levels().size(); }
    bool has_angle_banks() const { return std::holds_alternative<CompiledTemplateRot>(variant_); }
    const CompiledTemplateRot* with_rotation() const { return std::get_if<CompiledTemplateRot>(&variant_); }

    const std::vector<OwnedImage>& levels() const;
    const std::vector<TemplatePlan>& plans() const;
    const std::vector<SsdTemplatePlan>& ssd_plans() const;

    // The rotated template of (level, angle_idx), built and cached on first request. Safe to
    // call from several threads; the pointer stays valid for the compiled template's life.
    Result<const RotatedTemplate*> rotated(std::size_t level, std::size_t angle_idx) const;

    explicit CompiledTemplate(std::variant<CompiledTemplateNoRot, CompiledTemplateRot> v) : variant_(std::move(v)) {}

private:
    std::variant<CompiledTemplateNoRot, CompiledTemplateRot> variant_;
};

// Removes unusable levels from the coarse end: thinner than min_dim, or flat. Fails when
// every level goes, with the reason for level 0.
Status trim_degenerate_levels(std::vector<OwnedImage>& levels, std::size_t min_dim);

// A level other than level 0 may be the coarsest only with at least this many pixels (or,
// rotated, valid pixels) to score: with fewer, ZNCC cannot tell placements apart and the
// coarse search picks noise.
inline constexpr std::size_t kMinCoarsestPixels = 32;

}  // namespace quillet
