// What the masked ZNCC and SSD kernels share: sums over the valid pixels of a plan, taken in
// coords order, at one placement, over cached rows, or over a whole scan region.
#pragma once

#include <limits>
#include <vector>

#include "core/kernel/placement_lanes.hpp"
#include "core/kernel/scan.hpp"
#include "core/util/trace.hpp"

namespace quillet {

// The valid pixels of a masked plan in coords order.
template <class Plan>
struct CoordWalk {
    const Plan& plan;

    template <class F>
    void operator()(F&& f) const {
        for (std::size_t i = 0; i < plan.coords.size(); ++i) f(plan.coords[i].x, plan.coords[i].y, plan.values[i]);
    }
};

template <class Plan>
void check_values_cover_coords(const Plan& plan) {
    if (plan.values.size() < plan.coords.size()) fatal("masked plan holds one value per coordinate");
}

// Sums at placement (x, y), which the caller has checked against the image.
template <template <class> class Terms, class Plan>
Terms<float> masked_sums_at(const ImageView& image, const Plan& plan, std::size_t x, std::size_t y) {
    check_values_cover_coords(plan);
    // Coords run row by row, so the row is looked up again only when cy changes.
    std::size_t row_cy = std::numeric_limits<std::size_t>::max();
    std::span<const std::uint8_t> row;
    return sum_in_walk_order<Terms, float>(CoordWalk<Plan>{plan}, [&](std::size_t cx, std::size_t cy) {
        if (cy != row_cy) {
            auto r = image.row(y + cy);
            if (!r) fatal("row within bounds for score");
            row = *r;
            row_cy = cy;
        }
        if (x + cx >= row.size()) fatal("row within bounds for score");
        return static_cast<float>(row[x + cx]);
    });
}

// Sums at placement (x, y) whose rows y .. y + height - 1 are `rows`.
template <template <class> class Terms, class Plan>
Terms<float> masked_sums_cached(PlacementRows rows, const Plan& plan, std::size_t x) {
    check_values_cover_coords(plan);
    return sum_in_walk_order<Terms, float>(CoordWalk<Plan>{plan}, [&](std::size_t cx, std::size_t cy) {
        if (cy >= rows.size() || x + cx >= rows[cy].size()) fatal("row within bounds for score");
        return static_cast<float>(rows[cy][x + cx]);
    });
}

template <class Plan>
void check_coords_in_box(const Plan& plan) {
    for (const auto& c : plan.coords)
        if (c.x >= plan.width || c.y >= plan.height) fatal("valid coordinate inside the template box");
}

// Scores of placements x0, x0 + 1, ... (one per entry of `scores`) whose rows are `rows`,
// eight placements at a time; each equals the one-placement score bit for bit.
template <template <class> class Terms, class Plan, class Finish>
void masked_row_cached(PlacementRows rows, const Plan& plan, std::size_t x0, std::span<float> scores, Finish finish) {
    if (scores.empty()) return;
    check_values_cover_coords(plan);
    check_coords_in_box(plan);
    const std::size_t x1 = x0 + scores.size() - 1;
    if (rows.size() < plan.height) fatal("row within bounds for score");
    for (std::size_t j = 0; j < plan.height; ++j)
        if (rows[j].size() < x1 + plan.width) fatal("row within bounds for score");
    score_row_in_lanes<Terms>(rows, CoordWalk<Plan>{plan}, x0, x1, finish, [&](std::size_t x, float s) { scores[x - x0] = s; });
}

// The scan of a masked kernel; finish(Terms<float>) gives a placement's score. Placement rows
// are gathered once each and scored eight placements at a time.
template <template <class> class Terms, class Plan, class Finish>
Result<std::vector<Peak>> masked_scan(std::string_view span_name, const ImageView& image, const Plan& plan,
                                      std::size_t angle_idx, ScanRegion region, std::size_t k, float min_score,
                                      bool template_usable, Finish finish) {
    trace::Span span(span_name, {{"angle_idx", std::uint64_t{angle_idx}},
                                 {"tpl_w", std::uint64_t{plan.width}},
                                 {"tpl_h", std::uint64_t{plan.height}}});
    check_values_cover_coords(plan);
    check_coords_in_box(plan);
    std::vector<std::span<const std::uint8_t>> rows;
    return scan_placements(image, plan.width, plan.height, angle_idx, region, k, min_score, template_usable,
                           [&](std::size_t y, std::size_t x0, std::size_t x1, auto emit) {
                               if (!gather_rows(rows, image, y, plan.height)) fatal("row within bounds for scan");
                               score_row_in_lanes<Terms>(rows, CoordWalk<Plan>{plan}, x0, x1, finish, emit);
                           });
}

}  // namespace quillet
