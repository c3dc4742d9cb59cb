// Test images, plans computed here from their definitions, and plain scalar scores written in
// the order the kernels must reproduce, for the kernel tests.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "core/candidate/topk.hpp"
#include "core/image/image.hpp"
#include "core/kernel/kernel.hpp"
#include "core/template/masked_plan.hpp"
#include "core/template/plan.hpp"

namespace quillet::fixtures {

inline std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

// Deterministic noise with values in [lo, hi].
inline OwnedImage noise_image(std::size_t w, std::size_t h, std::uint32_t seed, int lo = 0, int hi = 255) {
    std::vector<std::uint8_t> px(w * h);
    std::uint32_t s = seed * 2654435761u + 1;
    for (auto& p : px) {
        s = s * 1664525u + 1013904223u;
        p = static_cast<std::uint8_t>(lo + static_cast<int>((s >> 8) % static_cast<std::uint32_t>(hi - lo + 1)));
    }
    return *OwnedImage::create(std::move(px), w, h);
}

inline OwnedImage crop(const ImageView& v, std::size_t x, std::size_t y, std::size_t w, std::size_t h) {
    std::vector<std::uint8_t> px;
    for (std::size_t j = 0; j < h; ++j)
        for (std::size_t i = 0; i < w; ++i) px.push_back(v.at(x + i, y + j));
    return *OwnedImage::create(std::move(px), w, h);
}

// ZNCC plan: 64-bit moments, mean rounded once to 32 bits, values pixel - mean in 32 bits.
inline TemplatePlan zncc_plan_of(const ImageView& v) {
    double sum = 0, sumsq = 0;
    for (std::size_t j = 0; j < v.height; ++j)
        for (std::size_t i = 0; i < v.width; ++i) {
            const double p = v.at(i, j);
            sum += p;
            sumsq += p * p;
        }
    const double n = static_cast<double>(v.width * v.height);
    const double mean = sum / n;
    const double var = sumsq / n - mean * mean;
    TemplatePlan plan{v.width, v.height, {}, static_cast<float>(var * n)};
    const float m32 = static_cast<float>(mean);
    for (std::size_t j = 0; j < v.height; ++j)
        for (std::size_t i = 0; i < v.width; ++i) plan.values.push_back(static_cast<float>(v.at(i, j)) - m32);
    return plan;
}

inline SsdTemplatePlan ssd_plan_of(const ImageView& v) {
    SsdTemplatePlan plan{v.width, v.height, {}};
    for (std::size_t j = 0; j < v.height; ++j)
        for (std::size_t i = 0; i < v.width; ++i) plan.values.push_back(static_cast<float>(v.at(i, j)));
    return plan;
}

// Plan values with fractional parts, so that products are inexact and a different summation
// order shows up in the last bits.
template <class Plan>
Plan with_fractions(Plan plan) {
    for (std::size_t i = 0; i < plan.values.size(); ++i) plan.values[i] += 0.013f + 0.1f * static_cast<float>(i % 10);
    return plan;
}

// Masked plans over the pixels whose mask byte is non-zero, all arithmetic in 32 bits.
inline MaskedTemplatePlan masked_zncc_plan_of(const ImageView& v, const std::vector<std::uint8_t>& mask) {
    float sum = 0.0f;
    std::size_t count = 0;
    for (std::size_t j = 0; j < v.height; ++j)
        for (std::size_t i = 0; i < v.width; ++i)
            if (mask[j * v.width + i]) {
                sum += static_cast<float>(v.at(i, j));
                ++count;
            }
    MaskedTemplatePlan plan;
    plan.width = v.width;
    plan.height = v.height;
    plan.n_valid = static_cast<float>(count);
    const float mean = sum / plan.n_valid;
    for (std::size_t j = 0; j < v.height; ++j)
        for (std::size_t i = 0; i < v.width; ++i)
            if (mask[j * v.width + i]) {
                const float value = static_cast<float>(v.at(i, j)) - mean;
                plan.coords.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)});
                plan.values.push_back(value);
                plan.var_sum += value * value;
            }
    return plan;
}

inline MaskedSsdTemplatePlan masked_ssd_plan_of(const ImageView& v, const std::vector<std::uint8_t>& mask) {
    MaskedSsdTemplatePlan plan;
    plan.width = v.width;
    plan.height = v.height;
    for (std::size_t j = 0; j < v.height; ++j)
        for (std::size_t i = 0; i < v.width; ++i)
            if (mask[j * v.width + i]) {
                plan.coords.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)});
                plan.values.push_back(static_cast<float>(v.at(i, j)));
            }
    return plan;
}

// A mask keeping the pixels inside the ellipse inscribed in the w x h box.
inline std::vector<std::uint8_t> ellipse_mask(std::size_t w, std::size_t h) {
    std::vector<std::uint8_t> mask(w * h);
    for (std::size_t j = 0; j < h; ++j)
        for (std::size_t i = 0; i < w; ++i) {
            const double dx = (i + 0.5) / w - 0.5, dy = (j + 0.5) / h - 0.5;
            mask[j * w + i] = dx * dx + dy * dy <= 0.25;
        }
    return mask;
}

inline float zncc_from_sums(float sum, float sq, float cross, float n, float var_t, float min_var_i) {
    const float var_i = sq - ((sum * sum) / n);
    if (var_i <= min_var_i) return kNoScore;
    const float score = cross / std::sqrt(var_t * var_i);
    return std::isfinite(score) ? score : kNoScore;
}

inline float ssd_from_total(float total) { return std::isfinite(total) ? -total : kNoScore; }

inline float px(const ImageView& image, std::size_t x, std::size_t y) { return static_cast<float>(image.at(x, y)); }

// Eight accumulators per quantity: lane l takes columns 8c + l; the columns after the last
// full chunk go to a scalar tail; lanes are added left to right, the tail last.
struct EightLaneSums {
    float sum = 0, sq = 0, cross = 0, ssd = 0;
};

inline EightLaneSums eight_lane_sums(const ImageView& image, const std::vector<float>& t, std::size_t w, std::size_t h,
                                     std::size_t x, std::size_t y) {
    float s[8] = {}, q[8] = {}, c[8] = {}, d2[8] = {};
    float ts = 0, tq = 0, tc = 0, td = 0;
    const std::size_t full = w / 8 * 8;
    for (std::size_t j = 0; j < h; ++j) {
        for (std::size_t i = 0; i < full; ++i) {
            const float v = px(image, x + i, y + j), tv = t[j * w + i];
            const float d = v - tv;
            s[i % 8] += v;
            q[i % 8] += v * v;
            c[i % 8] += tv * v;
            d2[i % 8] += d * d;
        }
        for (std::size_t i = full; i < w; ++i) {
            const float v = px(image, x + i, y + j), tv = t[j * w + i];
            const float d = v - tv;
            ts += v;
            tq += v * v;
            tc += tv * v;
            td += d * d;
        }
    }
    EightLaneSums r{s[0], q[0], c[0], d2[0]};
    for (int l = 1; l < 8; ++l) {
        r.sum += s[l];
        r.sq += q[l];
        r.cross += c[l];
        r.ssd += d2[l];
    }
    r.sum += ts;
    r.sq += tq;
    r.cross += tc;
    r.ssd += td;
    return r;
}

inline float ref_zncc_lanes(const ImageView& image, const TemplatePlan& plan, std::size_t x, std::size_t y, float min_var_i) {
    const auto r = eight_lane_sums(image, plan.values, plan.width, plan.height, x, y);
    return zncc_from_sums(r.sum, r.sq, r.cross, static_cast<float>(plan.width * plan.height), plan.var_sum, min_var_i);
}

inline float ref_ssd_lanes(const ImageView& image, const SsdTemplatePlan& plan, std::size_t x, std::size_t y) {
    return ssd_from_total(eight_lane_sums(image, plan.values, plan.width, plan.height, x, y).ssd);
}

// One running sum per quantity over the listed pixels, in list order.
inline float ref_zncc_sequential(const ImageView& image, const std::vector<ValidCoord>& coords, const std::vector<float>& t,
                                 float n, float var_t, std::size_t x, std::size_t y, float min_var_i) {
    float sum = 0, sq = 0, cross = 0;
    for (std::size_t i = 0; i < coords.size(); ++i) {
        const float v = px(image, x + coords[i].x, y + coords[i].y);
        sum += v;
        sq += v * v;
        cross += t[i] * v;
    }
    return zncc_from_sums(sum, sq, cross, n, var_t, min_var_i);
}

inline float ref_ssd_sequential(const ImageView& image, const std::vector<ValidCoord>& coords, const std::vector<float>& t,
                                std::size_t x, std::size_t y) {
    float total = 0;
    for (std::size_t i = 0; i < coords.size(); ++i) {
        const float d = px(image, x + coords[i].x, y + coords[i].y) - t[i];
        total += d * d;
    }
    return ssd_from_total(total);
}

inline std::vector<ValidCoord> all_coords(std::size_t w, std::size_t h) {
    std::vector<ValidCoord> coords;
    for (std::size_t j = 0; j < h; ++j)
        for (std::size_t i = 0; i < w; ++i) coords.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)});
    return coords;
}

// The k best qualifying placements of the rectangle, by brute force over score(x, y).
template <class Score>
std::vector<Peak> brute_force_best(std::size_t x0, std::size_t y0, std::size_t x1, std::size_t y1, std::size_t k,
                                   std::size_t angle_idx, float min_score, Score score) {
    std::vector<Peak> all;
    for (std::size_t y = y0; y <= y1; ++y)
        for (std::size_t x = x0; x <= x1; ++x) {
            const float s = score(x, y);
            if (std::isfinite(s) && s >= min_score) all.push_back({x, y, angle_idx, s});
        }
    std::sort(all.begin(), all.end(), ranks_before);
    if (all.size() > k) all.resize(k);
    return all;
}

// Same placements in the same order with bit-identical scores.
inline ::testing::AssertionResult same_peaks(const std::vector<Peak>& got, const std::vector<Peak>& want) {
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " peaks, expected " << want.size();
    for (std::size_t i = 0; i < got.size(); ++i) {
        const Peak &g = got[i], &w = want[i];
        if (g.x != w.x || g.y != w.y || g.angle_idx != w.angle_idx || bits(g.score) != bits(w.score))
            return ::testing::AssertionFailure() << "peak " << i << ": (" << g.x << ", " << g.y << ", " << g.angle_idx
                                                 << ", " << g.score << ") expected (" << w.x << ", " << w.y << ", "
                                                 << w.angle_idx << ", " << w.score << ")";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace quillet::fixtures
