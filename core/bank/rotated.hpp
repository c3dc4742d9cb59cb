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

    Status validate() const;
};

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

}  // namespace quillet
