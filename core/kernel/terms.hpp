// The running sums a score is built from, kept either as scalars or as eight independent
// lanes, and the scores made from them. Every lane operation is an ordinary IEEE float
// operation on its own lane, so a lane sums exactly what a scalar loop in the same order sums.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/kernel/kernel.hpp"

namespace quillet {

typedef float v4f __attribute__((vector_size(16)));

// Eight float lanes as two native four-lane vectors (lanes 0-3 in lo, 4-7 in hi), so a
// baseline x86-64 build keeps every accumulator in an SSE register.
struct v8f {
    v4f lo{};
    v4f hi{};
    float operator[](int l) const { return l < 4 ? lo[l] : hi[l - 4]; }
};

inline v8f operator+(const v8f& a, const v8f& b) { return {a.lo + b.lo, a.hi + b.hi}; }
inline v8f operator-(const v8f& a, const v8f& b) { return {a.lo - b.lo, a.hi - b.hi}; }
inline v8f operator*(const v8f& a, const v8f& b) { return {a.lo * b.lo, a.hi * b.hi}; }
inline v8f& operator+=(v8f& a, const v8f& b) { return a = a + b; }
// The scalar is used as is in every lane.
inline v8f operator-(const v8f& a, float t) { return {a.lo - t, a.hi - t}; }
inline v8f operator*(float t, const v8f& a) { return {t * a.lo, t * a.hi}; }

// Eight consecutive bytes, each converted exactly to a float: zero-extended to 16 and then
// 32 bits by interleaving with zeros, then converted four at a time.
inline v8f widen8(const std::uint8_t* p) {
    typedef std::uint8_t v16u8 __attribute__((vector_size(16)));
    typedef std::uint16_t v8u16 __attribute__((vector_size(16)));
    typedef std::int32_t v4i __attribute__((vector_size(16)));
    typedef std::uint64_t v2u64 __attribute__((vector_size(16)));
    std::uint64_t bits;
    std::memcpy(&bits, p, sizeof bits);
    const auto bytes = reinterpret_cast<v16u8>(v2u64{bits, 0});
    const auto halves = reinterpret_cast<v8u16>(
        __builtin_shufflevector(bytes, v16u8{}, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
    const auto lo = reinterpret_cast<v4i>(__builtin_shufflevector(halves, v8u16{}, 0, 8, 1, 9, 2, 10, 3, 11));
    const auto hi = reinterpret_cast<v4i>(__builtin_shufflevector(halves, v8u16{}, 4, 12, 5, 13, 6, 14, 7, 15));
    return {__builtin_convertvector(lo, v4f), __builtin_convertvector(hi, v4f)};
}

inline v8f load8(const float* p) {
    v8f v;
    std::memcpy(&v.lo, p, sizeof v.lo);
    std::memcpy(&v.hi, p + 4, sizeof v.hi);
    return v;
}

// Lanes added left to right, the tail last.
inline float fold_lanes(const v8f& a, float tail) {
    return (((((((a.lo[0] + a.lo[1]) + a.lo[2]) + a.lo[3]) + a.hi[0]) + a.hi[1]) + a.hi[2]) + a.hi[3]) + tail;
}

// V is float or v8f; T (template value) is float, or v8f when lanes run over columns.
template <class V>
struct ZnccTerms {
    V sum{};
    V sq{};
    V cross{};

    template <class T>
    void add(const V& v, const T& t) {
        sum += v;
        sq += v * v;
        cross += t * v;
    }
    ZnccTerms<float> lane(int l) const { return {sum[l], sq[l], cross[l]}; }
    ZnccTerms<float> folded(const ZnccTerms<float>& tail) const {
        return {fold_lanes(sum, tail.sum), fold_lanes(sq, tail.sq), fold_lanes(cross, tail.cross)};
    }
};

// The correlation sum alone, for windows whose moments come from integral images.
template <class V>
struct CrossTerms {
    V cross{};

    template <class T>
    void add(const V& v, const T& t) {
        cross += t * v;
    }
    CrossTerms<float> folded(const CrossTerms<float>& tail) const { return {fold_lanes(cross, tail.cross)}; }
};

template <class V>
struct SsdTerms {
    V total{};

    template <class T>
    void add(const V& v, const T& t) {
        const V d = v - t;
        total += d * d;
    }
    SsdTerms<float> lane(int l) const { return {total[l]}; }
    SsdTerms<float> folded(const SsdTerms<float>& tail) const { return {fold_lanes(total, tail.total)}; }
};

// Squared-deviation sum of a window of n pixels: square, divide, subtract.
inline float window_variance(float sum, float sq, float n) { return sq - ((sum * sum) / n); }

inline float correlation(float cross, float var_t, float var_i) {
    const float score = cross / std::sqrt(var_t * var_i);
    return std::isfinite(score) ? score : kNoScore;
}

// A NaN variance is not "too flat"; it goes on to a NaN score, which has no score either.
inline float zncc_score(const ZnccTerms<float>& s, float n, float var_t, float min_var_i) {
    const float var_i = window_variance(s.sum, s.sq, n);
    if (var_i <= min_var_i) return kNoScore;
    return correlation(s.cross, var_t, var_i);
}

inline float ssd_score(const SsdTerms<float>& s) { return std::isfinite(s.total) ? -s.total : kNoScore; }

// Templates whose squared-deviation sum is at most this have no usable correlation.
inline bool degenerate_variance(float var_t) { return var_t <= 1e-8f; }

}  // namespace quillet
