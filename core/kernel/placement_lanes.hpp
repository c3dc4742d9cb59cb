// Scoring adjacent placements together: lane l of eight holds placement x + l, and every lane
// visits the template pixels in the same order a single placement does, so each lane's sums,
// and its score, equal the one-placement computation bit for bit.
//
// A walk calls f(cx, cy, t) for every template pixel in summation order: (cx, cy) is the pixel's
// place in the template box and t its template value.
#pragma once

#include "core/kernel/scan.hpp"
#include "core/kernel/terms.hpp"

namespace quillet {

// Sums Terms over the walk; load(cx, cy) gives the image value(s) under template pixel (cx, cy).
template <template <class> class Terms, class V, class Walk, class Load>
Terms<V> sum_in_walk_order(const Walk& walk, Load load) {
    Terms<V> acc;
    walk([&](std::size_t cx, std::size_t cy, float t) { acc.add(load(cx, cy), t); });
    return acc;
}

// Scores placements x0 ..= x1 whose image rows are `rows`: eight at a time, the rest one by one,
// calling emit(x, finish(sums)) in increasing x. The caller guarantees that the walk stays in
// the template box and that every row holds column x1 + box width - 1.
template <template <class> class Terms, class Walk, class Finish, class Emit>
void score_row_in_lanes(PlacementRows rows, const Walk& walk, std::size_t x0, std::size_t x1, Finish finish, Emit emit) {
    std::size_t x = x0;
    for (; x + 7 <= x1; x += 8) {
        const auto lanes = sum_in_walk_order<Terms, v8f>(
            walk, [&](std::size_t cx, std::size_t cy) { return widen8(rows[cy].data() + x + cx); });
        for (int l = 0; l < 8; ++l) emit(x + l, finish(lanes.lane(l)));
    }
    for (; x <= x1; ++x) {
        const auto sums = sum_in_walk_order<Terms, float>(
            walk, [&](std::size_t cx, std::size_t cy) { return static_cast<float>(rows[cy][x + cx]); });
        emit(x, finish(sums));
    }
}

}  // namespace quillet
