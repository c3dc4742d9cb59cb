#include "core/candidate/nms.hpp"

#include <algorithm>

namespace quillet {

namespace {

std::size_t abs_diff(std::size_t a, std::size_t b) { return a > b ? a - b : b - a; }

bool within_radius(const Peak& a, const Peak& b, std::size_t radius) {
    return std::max(abs_diff(a.x, b.x), abs_diff(a.y, b.y)) <= radius;
}

}  // namespace

std::vector<Peak> nms_2d(std::vector<Peak>& peaks, std::size_t radius) {
    std::stable_sort(peaks.begin(), peaks.end(), ranks_before);
    if (radius == 0) return peaks;
    std::vector<Peak> survivors;
    for (const Peak& p : peaks) {
        // Only survivors suppress: a peak discarded here never removes another.
        bool suppressed = std::ranges::any_of(survivors, [&](const Peak& s) { return within_radius(p, s, radius); });
        if (!suppressed) survivors.push_back(p);
    }
    return survivors;
}

}  // namespace quillet
