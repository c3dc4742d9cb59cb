// Deterministic textured test images: smoothed noise, pasting and sub-pixel shifting.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/image/image.hpp"

namespace quillet::testing {

struct Gray {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<std::uint8_t> pixels;

    ImageView view() const { return ImageView{pixels, width, height, width}; }
    std::uint8_t& at(std::size_t x, std::size_t y) { return pixels[y * width + x]; }
    std::uint8_t at(std::size_t x, std::size_t y) const { return pixels[y * width + x]; }
};

// Noise smoothed by `passes` 3x3 box blurs and stretched to the full range: texture at
// every scale down to a few pixels, so coarse pyramid levels stay informative.
inline Gray textured(std::size_t w, std::size_t h, std::uint32_t seed, int passes = 2) {
    std::vector<float> v(w * h);
    std::uint32_t s = seed * 2654435761u + 12345u;
    for (float& f : v) {
        s = s * 1664525u + 1013904223u;
        f = static_cast<float>(s >> 24);
    }
    for (int p = 0; p < passes; ++p) {
        std::vector<float> out(w * h);
        for (std::size_t y = 0; y < h; ++y)
            for (std::size_t x = 0; x < w; ++x) {
                float sum = 0;
                int n = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        long xx = long(x) + dx, yy = long(y) + dy;
                        if (xx < 0 || yy < 0 || xx >= long(w) || yy >= long(h)) continue;
                        sum += v[yy * w + xx];
                        ++n;
                    }
                out[y * w + x] = sum / n;
            }
        v.swap(out);
    }
    float lo = 1e9f, hi = -1e9f;
    for (float f : v) lo = std::min(lo, f), hi = std::max(hi, f);
    Gray g{w, h, std::vector<std::uint8_t>(w * h)};
    for (std::size_t i = 0; i < v.size(); ++i) g.pixels[i] = static_cast<std::uint8_t>(std::lround(255.0f * (v[i] - lo) / (hi - lo)));
    return g;
}

inline Gray crop(const Gray& src, std::size_t x0, std::size_t y0, std::size_t w, std::size_t h) {
    Gray g{w, h, std::vector<std::uint8_t>(w * h)};
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) g.at(x, y) = src.at(x0 + x, y0 + y);
    return g;
}

inline void paste(Gray& dst, const Gray& src, std::size_t x0, std::size_t y0) {
    for (std::size_t y = 0; y < src.height; ++y)
        for (std::size_t x = 0; x < src.width; ++x) dst.at(x0 + x, y0 + y) = src.at(x, y);
}

// dst(x, y) = src(x - sx, y - sy), bilinear; content moves by (+sx, +sy).
inline Gray shifted(const Gray& src, double sx, double sy) {
    Gray g{src.width, src.height, std::vector<std::uint8_t>(src.pixels.size())};
    for (std::size_t y = 0; y < src.height; ++y)
        for (std::size_t x = 0; x < src.width; ++x) {
            double fx = std::clamp(double(x) - sx, 0.0, double(src.width - 1) - 1e-9);
            double fy = std::clamp(double(y) - sy, 0.0, double(src.height - 1) - 1e-9);
            auto x0 = std::size_t(fx), y0 = std::size_t(fy);
            double tx = fx - x0, ty = fy - y0;
            double v = (1 - tx) * (1 - ty) * src.at(x0, y0) + tx * (1 - ty) * src.at(x0 + 1, y0) +
                       (1 - tx) * ty * src.at(x0, y0 + 1) + tx * ty * src.at(x0 + 1, y0 + 1);
            g.at(x, y) = static_cast<std::uint8_t>(std::lround(v));
        }
    return g;
}

}  // namespace quillet::testing
