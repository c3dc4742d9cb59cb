#include "core/image/integral.hpp"

namespace quillet {

namespace {

// Exact sum of table `t` over the w x h window at (x, y). The four-entry combination never
// goes negative in exact arithmetic, so unsigned wrap-around in between cancels out.
std::uint64_t window_total(const IntegralImages& ii, const std::vector<std::uint64_t>& t, std::size_t x,
                           std::size_t y, std::size_t w, std::size_t h) {
    std::size_t x1 = 0, y1 = 0, bottom = 0, last = 0;
    if (__builtin_add_overflow(x, w, &x1) || __builtin_add_overflow(y, h, &y1) || x1 > ii.width ||
        y1 > ii.height || __builtin_mul_overflow(y1, ii.stride, &bottom) ||
        __builtin_add_overflow(bottom, x1, &last) || last >= t.size())
        fatal("window inside integral images");
    const std::size_t top = y * ii.stride;
    return (t[bottom + x1] - t[top + x1]) - (t[bottom + x] - t[top + x]);
}

}  // namespace

Result<IntegralImages> IntegralImages::from_u8(const ImageView& view) {
    const std::size_t W = view.width, H = view.height;
    std::size_t stride = 0, rows = 0;
    if (__builtin_add_overflow(W, 1, &stride) || __builtin_add_overflow(H, 1, &rows))
        return fail(err::InvalidDimensions{W, H});
    // Also refuses tables too large for a vector to address.
    auto entries = checked_area(stride, rows);
    if (!entries || *entries > std::vector<std::uint64_t>().max_size()) return fail(err::InvalidDimensions{W, H});

    IntegralImages ii;
    ii.sum.assign(*entries, 0);
    ii.sum_sq.assign(*entries, 0);
    ii.width = W;
    ii.height = H;
    ii.stride = stride;
    for (std::size_t j = 0; j < H; ++j) {
        auto row = view.row(j);
        if (!row) fatal("row of a validated view lies inside its buffer");
        const std::uint64_t* sum_above = ii.sum.data() + j * stride;
        const std::uint64_t* sq_above = ii.sum_sq.data() + j * stride;
        std::uint64_t* sum_here = ii.sum.data() + (j + 1) * stride;
        std::uint64_t* sq_here = ii.sum_sq.data() + (j + 1) * stride;
        std::uint64_t r = 0, q = 0;
        for (std::size_t i = 0; i < W; ++i) {
            const std::uint64_t v = (*row)[i];
            r += v;
            q += v * v;
            sum_here[i + 1] = sum_above[i + 1] + r;
            sq_here[i + 1] = sq_above[i + 1] + q;
        }
    }
    return ii;
}

float IntegralImages::window_sum(std::size_t x, std::size_t y, std::size_t w, std::size_t h) const {
    return static_cast<float>(window_total(*this, sum, x, y, w, h));
}

float IntegralImages::window_sum_sq(std::size_t x, std::size_t y, std::size_t w, std::size_t h) const {
    return static_cast<float>(window_total(*this, sum_sq, x, y, w, h));
}

}  // namespace quillet
