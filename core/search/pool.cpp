#include "core/search/pool.hpp"

#include <algorithm>

#include "core/candidate/nms.hpp"
#include "core/util/trace.hpp"

namespace quillet {

std::vector<Candidate> candidates_from_pool(std::vector<Peak> pool, std::size_t level, const MatchConfig& config,
                                            const AngleOf& angle_of, std::string_view event_name) {
    if (pool.empty()) return {};
    auto survivors = nms_2d(pool, config.nms_radius);
    survivors.resize(std::min(survivors.size(), config.beam_width));
    std::vector<Candidate> out;
    out.reserve(survivors.size());
    for (const Peak& p : survivors)
        out.push_back(Candidate{level, p.x, p.y, p.angle_idx, angle_of(p.angle_idx), p.score});
    trace::event(event_name, {{"count", std::uint64_t{out.size()}}});
    return out;
}

}  // namespace quillet
