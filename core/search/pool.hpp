// Running one peak-producing task per index, serially or on the worker pool, and turning a
// pool of peaks into a level's candidates. Shared by every coarse search and refinement.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include <tbb/parallel_for.h>

#include "core/candidate/topk.hpp"
#include "core/search/records.hpp"
#include "core/util/trace.hpp"

namespace quillet {

// Concatenates task(0) .. task(n - 1) in index order. Serially the first error stops the
// run; in parallel every task runs and the lowest failing index's error is returned, so the
// outcome never depends on scheduling.
template <class Task>
Result<std::vector<Peak>> pool_peaks(std::size_t n, bool parallel, Task&& task) {
    std::vector<Peak> pool;
    auto append = [&pool](Result<std::vector<Peak>>& r) { pool.insert(pool.end(), r->begin(), r->end()); };
    if (!parallel) {
        for (std::size_t i = 0; i < n; ++i) {
            auto peaks = task(i);
            if (!peaks) return std::unexpected(peaks.error());
            append(peaks);
        }
        return pool;
    }
    std::vector<Result<std::vector<Peak>>> results(n);
    tbb::parallel_for(std::size_t{0}, n, [&](std::size_t i) { results[i] = task(i); });
    for (auto& r : results)
        if (!r) return std::unexpected(r.error());
    for (auto& r : results) append(r);
    return pool;
}

// Grid angle of a peak's angle index at the searched level (always 0 without rotation).
using AngleOf = std::function<float(std::size_t angle_idx)>;
inline const AngleOf kNoAngle = [](std::size_t) { return 0.0f; };

// A stage's span: its two fields, and parallel = true for the parallel variants.
inline trace::Span stage_span(std::string_view name, trace::Field a, trace::Field b, bool parallel) {
    return parallel ? trace::Span(name, {a, b, {"parallel", true}}) : trace::Span(name, {a, b});
}

// Suppresses the pool, keeps the best beam_width survivors as candidates of `level`, and
// reports their count under `event_name`.
std::vector<Candidate> candidates_from_pool(std::vector<Peak> pool, std::size_t level, const MatchConfig& config,
                                            const AngleOf& angle_of, std::string_view event_name);

}  // namespace quillet
