// Rotation assets of a template compiled with rotation: the compile settings, one rotated
// template per (level, angle), built on first use and kept in a set-once slot.
#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <vector>

#include "core/bank/angles.hpp"
#include "core/image/image.hpp"
#include "core/template/masked_plan.hpp"
#include "core/template/rotate.hpp"

namespace quillet {

struct CompileConfig {
    std::size_t max_levels = 6;
    float coarse_step_deg = 10.0f;
    float min_step_deg = 0.5f;
    std::uint8_t fill_value = 0;
    bool precompute_coarsest = true;

    // In order: max_levels >= 1, coarse and minimum steps positive and finite, minimum not
    // above coarse. The grid size is bounded at compile time, from the steps the levels
    // actually get (a tiny minimum is harmless when the levels never halve down to it).
    Status validate() const;
};

// Refuses a step whose full-circle grid would exceed kMaxGridAngles angles, as InvalidConfig,
// before any grid or slot is allocated. Lets NaN and non-positive steps pass: the grid reports
// those itself.
Status check_angle_step(float step_deg);

struct RotatedTemplate {
    MaskedTemplatePlan zncc_plan;
    MaskedSsdTemplatePlan ssd_plan;
};

// A cell that goes from empty to filled once. Readers see empty or a complete value; the
// first value stored wins and stays put for the slot's life.
class RotationSlot {
public:
    RotationSlot() = default;
    RotationSlot(const RotationSlot&) = delete;
    RotationSlot& operator=(const RotationSlot&) = delete;
    ~RotationSlot();

    const RotatedTemplate* get() const { return value_.load(std::memory_order_acquire); }
    // Stores `value` unless the slot is already filled; returns the stored content.
    const RotatedTemplate& store(std::unique_ptr<RotatedTemplate> value) const;

private:
    mutable std::atomic<const RotatedTemplate*> value_{nullptr};
};

struct LevelBank {
    std::unique_ptr<RotationSlot[]> rotations;  // grid.count slots, index = angle index
    AngleGrid grid;
};

// Rotates template level 0 by angle_deg, then halves image and mask `level` times; a reduced
// mask pixel is valid only where all four finer pixels are valid.
Result<RotatedImage> rotate_downsample_to_level(const ImageView& src, std::uint8_t fill_value, std::size_t level, float angle_deg);

// The masked plans of one (level, angle).
Result<RotatedTemplate> build_rotated_template(const ImageView& level0, std::uint8_t fill_value, std::size_t level, float angle_deg);

// The rotated templates of every angle of `grid` at `level`, built on the worker pool and
// returned in angle-index order, each a template or its build error.
std::vector<Result<RotatedTemplate>> build_level_rotations(const ImageView& level0, std::uint8_t fill_value, std::size_t level,
                                                           const AngleGrid& grid);

}  // namespace quillet
