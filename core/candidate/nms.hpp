// Non-maximum suppression: thins a list of peaks so that no two survivors lie close together.
#pragma once

#include <cstddef>
#include <vector>

#include "core/candidate/topk.hpp"

namespace quillet {

// Sorts `peaks` in place best first, then keeps each peak whose Chebyshev distance to every
// earlier survivor exceeds `radius` (angle indices play no part). Radius 0 keeps everything.
// Survivors come back best first, without a limit on their number.
std::vector<Peak> nms_2d(std::vector<Peak>& peaks, std::size_t radius);

}  // namespace quillet
