// Scored placements, their single ranking, and the bounded best-k collection the scans fill.
#pragma once

#include <compare>
#include <cstddef>
#include <vector>

namespace quillet {

struct Peak {
    std::size_t x = 0;
    std::size_t y = 0;
    std::size_t angle_idx = 0;
    float score = 0.0f;
    bool operator==(const Peak&) const = default;
};

// less: a ranks before b. Higher score (IEEE totalOrder on the bits) first, then smaller y,
// smaller x, smaller angle_idx. Equal only for identical peaks.
std::strong_ordering peak_cmp_desc(const Peak& a, const Peak& b);

// True when a ranks strictly before b.
inline bool ranks_before(const Peak& a, const Peak& b) { return peak_cmp_desc(a, b) < 0; }

// Keeps the k best peaks pushed. No heap: a push into a full collection scans for the worst.
class TopK {
public:
    explicit TopK(std::size_t k);
    void push(const Peak& peak);
    // Best first, stable sort.
    std::vector<Peak> into_sorted_desc() &&;
    std::size_t size() const { return items_.size(); }

private:
    std::vector<Peak> items_;
    std::size_t k_;
};

}  // namespace quillet
