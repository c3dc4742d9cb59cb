#include "core/template/plan.hpp"

namespace quillet {

namespace {

// Pixel count of a plan's view. A view without pixels would give a plan with no values
// (and a NaN variance), so it is refused like an oversized one.
Result<std::size_t> plan_pixel_count(const ImageView& view) {
    auto n = checked_area(view.width, view.height);
    if (!n || *n == 0) return fail(err::InvalidDimensions{view.width, view.height});
    return *n;
}

std::span<const std::uint8_t> plan_row(const ImageView& view, std::size_t y) {
    auto row = view.row(y);
    if (!row) fatal("row of a validated view lies inside its buffer");
    return *row;
}

}  // namespace

Result<TemplatePlan> TemplatePlan::from_view(const ImageView& view) {
    auto n = plan_pixel_count(view);
    if (!n) return std::unexpected(n.error());

    // With 8-bit pixels every partial sum is an exact double.
    double sum = 0.0, sumsq = 0.0;
    for (std::size_t y = 0; y < view.height; ++y) {
        for (std::uint8_t p : plan_row(view, y)) {
            const double v = p;
            sum += v;
            sumsq += v * v;
        }
    }
    const double count = static_cast<double>(*n);
    const double mean = sum / count;
    const double var = sumsq / count - mean * mean;
    if (var <= 1e-8) return fail(err::DegenerateTemplate{"zero variance"});

    const float mean32 = static_cast<float>(mean);
    TemplatePlan plan;
    plan.width = view.width;
    plan.height = view.height;
    plan.values.reserve(*n);
    for (std::size_t y = 0; y < view.height; ++y) {
        for (std::uint8_t p : plan_row(view, y)) plan.values.push_back(static_cast<float>(p) - mean32);
    }
    plan.var_sum = static_cast<float>(var * count);
    return plan;
}

Result<SsdTemplatePlan> SsdTemplatePlan::from_view(const ImageView& view) {
    auto n = plan_pixel_count(view);
    if (!n) return std::unexpected(n.error());

    SsdTemplatePlan plan;
    plan.width = view.width;
    plan.height = view.height;
    plan.values.reserve(*n);
    for (std::size_t y = 0; y < view.height; ++y) {
        for (std::uint8_t p : plan_row(view, y)) plan.values.push_back(static_cast<float>(p));
    }
    return plan;
}

}  // namespace quillet
