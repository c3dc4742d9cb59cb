#include "core/candidate/topk.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

namespace quillet {

namespace {

// IEEE 754 totalOrder key: negative patterns get their magnitude bits inverted.
std::int32_t total_order_key(float f) {
    auto bits = std::bit_cast<std::int32_t>(f);
    return bits < 0 ? bits ^ 0x7fffffff : bits;
}

}  // namespace

std::strong_ordering peak_cmp_desc(const Peak& a, const Peak& b) {
    if (auto c = total_order_key(b.score) <=> total_order_key(a.score); c != 0) return c;
    if (auto c = a.y <=> b.y; c != 0) return c;
    if (auto c = a.x <=> b.x; c != 0) return c;
    return a.angle_idx <=> b.angle_idx;
}

TopK::TopK(std::size_t k) : k_(k) { items_.reserve(k); }

void TopK::push(const Peak& peak) {
    if (k_ == 0) return;
    if (items_.size() < k_) {
        items_.push_back(peak);
        return;
    }
    auto worst = items_.begin();
    for (auto it = items_.begin() + 1; it != items_.end(); ++it)
        if (ranks_before(*worst, *it)) worst = it;
    if (ranks_before(peak, *worst)) *worst = peak;
}

std::vector<Peak> TopK::into_sorted_desc() && {
    std::stable_sort(items_.begin(), items_.end(), ranks_before);
    return std::move(items_);
}

}  // namespace quillet
