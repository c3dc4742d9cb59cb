#include "core/kernel/parallel.hpp"

#include <algorithm>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "core/kernel/placement_lanes.hpp"
#include "core/kernel/scan.hpp"

namespace quillet {

namespace {

// Every template pixel, row by row, left to right.
struct RasterWalk {
    std::size_t w, h;
    const float* values;

    template <class F>
    void operator()(F&& f) const {
        for (std::size_t j = 0; j < h; ++j)
            for (std::size_t i = 0; i < w; ++i) f(i, j, values[j * w + i]);
    }
};

// Each placement row keeps only its own k best: the k best of all rows are among them, so the
// merge gives the same peaks while memory stays at (rows x k) rather than every placement.
template <template <class> class Terms, class Plan, class Finish>
Result<std::vector<Peak>> scan_full_par(const ImageView& image, const Plan& plan, std::size_t angle_idx, std::size_t k,
                                        float min_score, bool template_usable, Finish finish) {
    const std::size_t w = plan.width, h = plan.height;
    auto rect = clamp_scan_region(image, w, h, ScanRegion::full(), k);
    if (!rect) return std::unexpected(rect.error());
    if (!*rect || !template_usable) return std::vector<Peak>{};
    const PlacementRect all = **rect;
    check_one_value_per_pixel(plan);

    const RasterWalk walk{w, h, plan.values.data()};
    const std::size_t row_k = std::min(k, all.x1 + 1);
    std::vector<std::vector<Peak>> row_peaks(all.y1 + 1);
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, all.y1 + 1), [&](const tbb::blocked_range<std::size_t>& ys) {
        std::vector<std::span<const std::uint8_t>> rows;
        auto score_row = [&](std::size_t y, std::size_t x0, std::size_t x1, auto emit) {
            if (!gather_rows(rows, image, y, h)) fatal("row within bounds");
            score_row_in_lanes<Terms>(rows, walk, x0, x1, finish, emit);
        };
        for (std::size_t y = ys.begin(); y != ys.end(); ++y) {
            TopK top(row_k);
            collect_row(top, all, y, angle_idx, min_score, score_row);
            row_peaks[y] = std::move(top).into_sorted_desc();
        }
    });

    TopK merged(k);
    for (const auto& peaks : row_peaks)
        for (const Peak& p : peaks) merged.push(p);
    return std::move(merged).into_sorted_desc();
}

}  // namespace

Result<std::vector<Peak>> zncc_unmasked_scan_full_par(const ImageView& image, const TemplatePlan& plan, std::size_t angle_idx,
                                                      std::size_t k, float min_var_i, float min_score) {
    const float n = static_cast<float>(plan.width * plan.height);
    return scan_full_par<ZnccTerms>(image, plan, angle_idx, k, min_score, !degenerate_variance(plan.var_sum),
                                    [&](const ZnccTerms<float>& sums) { return zncc_score(sums, n, plan.var_sum, min_var_i); });
}

Result<std::vector<Peak>> ssd_unmasked_scan_full_par(const ImageView& image, const SsdTemplatePlan& plan, std::size_t angle_idx,
                                                     std::size_t k, float /*min_var_i*/, float min_score) {
    return scan_full_par<SsdTerms>(image, plan, angle_idx, k, min_score, true,
                                   [](const SsdTerms<float>& sums) { return ssd_score(sums); });
}

}  // namespace quillet
