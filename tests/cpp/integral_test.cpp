#include "core/image/integral.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace quillet {
namespace {

struct Window {
    std::size_t x, y, w, h;
};

// Pixels near 255 with some texture, and a flat 32x32 patch of 240 at (flat_x, flat_y).
constexpr std::size_t kBigW = 2000, kBigH = 1500, kFlatX = 1900, kFlatY = 1400, kFlatSide = 32;

std::vector<std::uint8_t> bright_image() {
    std::vector<std::uint8_t> px(kBigW * kBigH);
    for (std::size_t y = 0; y < kBigH; ++y)
        for (std::size_t x = 0; x < kBigW; ++x) {
            const bool flat = x >= kFlatX && x < kFlatX + kFlatSide && y >= kFlatY && y < kFlatY + kFlatSide;
            px[y * kBigW + x] = flat ? 240 : static_cast<std::uint8_t>(255 - (x * 7 + y * 13 + x * y) % 16);
        }
    return px;
}

// Window sums accumulated directly from the pixels, in 64 bits.
struct DirectSums {
    std::uint64_t sum = 0, sum_sq = 0;
};

DirectSums direct_sums(const std::vector<std::uint8_t>& px, std::size_t width, Window win) {
    DirectSums d;
    for (std::size_t y = win.y; y < win.y + win.h; ++y)
        for (std::size_t x = win.x; x < win.x + win.w; ++x) {
            const std::uint64_t v = px[y * width + x];
            d.sum += v;
            d.sum_sq += v * v;
        }
    return d;
}

// Summed-area tables the way a 32-bit float implementation builds them: running row sums
// added to the entry above, every step a float operation.
struct FloatTables {
    std::vector<float> sum, sum_sq;
    std::size_t stride;

    FloatTables(const std::vector<std::uint8_t>& px, std::size_t w, std::size_t h)
        : sum((w + 1) * (h + 1), 0.0f), sum_sq((w + 1) * (h + 1), 0.0f), stride(w + 1) {
        for (std::size_t j = 0; j < h; ++j) {
            float r = 0.0f, q = 0.0f;
            for (std::size_t i = 0; i < w; ++i) {
                const float v = px[j * w + i];
                r = r + v;
                q = q + v * v;
                sum[(j + 1) * stride + i + 1] = sum[j * stride + i + 1] + r;
                sum_sq[(j + 1) * stride + i + 1] = sum_sq[j * stride + i + 1] + q;
            }
        }
    }

    static float window(const std::vector<float>& t, std::size_t stride, Window win) {
        const float tl = t[win.y * stride + win.x], tr = t[win.y * stride + win.x + win.w];
        const float bl = t[(win.y + win.h) * stride + win.x], br = t[(win.y + win.h) * stride + win.x + win.w];
        return ((tl + br) - tr) - bl;
    }
    float window_sum(Window win) const { return window(sum, stride, win); }
    float window_sum_sq(Window win) const { return window(sum_sq, stride, win); }
};

float variance_sum(float sum, float sum_sq, Window win) {
    const float n = static_cast<float>(win.w * win.h);
    return sum_sq - ((sum * sum) / n);
}

TEST(IntegralImages, OnePixelTables) {
    const std::vector<std::uint8_t> px = {7};
    auto ii = IntegralImages::from_u8(*ImageView::create(px, 1, 1, 1));
    ASSERT_TRUE(ii);
    EXPECT_EQ(ii->stride, 2u);
    EXPECT_EQ(ii->sum, (std::vector<std::uint64_t>{0, 0, 0, 7}));
    EXPECT_EQ(ii->sum_sq, (std::vector<std::uint64_t>{0, 0, 0, 49}));
    EXPECT_EQ(ii->window_sum(0, 0, 1, 1), 7.0f);
    EXPECT_EQ(ii->window_sum_sq(0, 0, 1, 1), 49.0f);
}

TEST(IntegralImages, TwoByTwoTables) {
    const std::vector<std::uint8_t> px = {1, 2, 3, 4};
    auto ii = IntegralImages::from_u8(*ImageView::create(px, 2, 2, 2));
    ASSERT_TRUE(ii);
    EXPECT_EQ(ii->width, 2u);
    EXPECT_EQ(ii->height, 2u);
    EXPECT_EQ(ii->stride, 3u);
    EXPECT_EQ(ii->sum, (std::vector<std::uint64_t>{0, 0, 0, 0, 1, 3, 0, 4, 10}));
    EXPECT_EQ(ii->sum_sq, (std::vector<std::uint64_t>{0, 0, 0, 0, 1, 5, 0, 10, 30}));
    EXPECT_EQ(ii->window_sum(0, 0, 2, 2), 10.0f);
    EXPECT_EQ(ii->window_sum_sq(0, 0, 2, 2), 30.0f);
    EXPECT_EQ(ii->window_sum(1, 1, 1, 1), 4.0f);
    EXPECT_EQ(ii->window_sum_sq(0, 1, 2, 1), 25.0f);
}

TEST(IntegralImages, LargeBrightImageWindowsAreExactUntilTheFinalRounding) {
    const auto px = bright_image();
    auto ii = IntegralImages::from_u8(*ImageView::create(px, kBigW, kBigH, kBigW));
    ASSERT_TRUE(ii);
    ASSERT_GT(ii->sum_sq.back(), std::uint64_t{1} << 24);  // far beyond what a float holds exactly

    const std::vector<Window> windows = {
        {0, 0, kBigW, kBigH}, {0, 0, 1, 1},       {1999, 1499, 1, 1}, {1234, 987, 64, 48},
        {1500, 1000, 500, 500}, {3, 1400, 1997, 100}, {kFlatX - 5, kFlatY - 3, 40, 40},
    };
    for (const auto& win : windows) {
        SCOPED_TRACE(testing::Message() << win.x << "," << win.y << " " << win.w << "x" << win.h);
        const DirectSums d = direct_sums(px, kBigW, win);
        EXPECT_EQ(ii->window_sum(win.x, win.y, win.w, win.h), static_cast<float>(d.sum));
        EXPECT_EQ(ii->window_sum_sq(win.x, win.y, win.w, win.h), static_cast<float>(d.sum_sq));
    }
}

TEST(IntegralImages, FlatWindowOfALargeImageHasZeroVariance) {
    const auto px = bright_image();
    auto ii = IntegralImages::from_u8(*ImageView::create(px, kBigW, kBigH, kBigW));
    ASSERT_TRUE(ii);
    const Window flat{kFlatX, kFlatY, kFlatSide, kFlatSide};
    const float sum = ii->window_sum(flat.x, flat.y, flat.w, flat.h);
    const float sq = ii->window_sum_sq(flat.x, flat.y, flat.w, flat.h);
    EXPECT_EQ(sum, 245760.0f);      // 1024 * 240
    EXPECT_EQ(sq, 58982400.0f);     // 1024 * 240^2
    EXPECT_EQ(variance_sum(sum, sq, flat), 0.0f);

    // Float tables lose this window entirely.
    const FloatTables f(px, kBigW, kBigH);
    EXPECT_NE(variance_sum(f.window_sum(flat), f.window_sum_sq(flat), flat), 0.0f);
}

TEST(IntegralImages, SmallImageWindowsMatchTheFloatFormulation) {
    // 10x12 pixels: every table entry, and every sum of two entries, stays below 2^24.
    const std::size_t w = 10, h = 12;
    std::vector<std::uint8_t> px(w * h);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint8_t>((i * 97 + 31) % 256);
    auto ii = IntegralImages::from_u8(*ImageView::create(px, w, h, w));
    ASSERT_TRUE(ii);
    const FloatTables f(px, w, h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x)
            for (std::size_t wh = 1; y + wh <= h; ++wh)
                for (std::size_t ww = 1; x + ww <= w; ++ww) {
                    const Window win{x, y, ww, wh};
                    ASSERT_EQ(ii->window_sum(x, y, ww, wh), f.window_sum(win)) << x << "," << y << " " << ww << "x" << wh;
                    ASSERT_EQ(ii->window_sum_sq(x, y, ww, wh), f.window_sum_sq(win)) << x << "," << y << " " << ww << "x" << wh;
                }
}

TEST(IntegralImages, PaddedViewGivesThePackedTables) {
    const std::size_t w = 5, h = 4, stride = 9;
    std::vector<std::uint8_t> packed(w * h), padded((h - 1) * stride + w, 0xFF);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) packed[y * w + x] = padded[y * stride + x] = static_cast<std::uint8_t>(x * 40 + y * 3);
    auto a = IntegralImages::from_u8(*ImageView::create(packed, w, h, w));
    auto b = IntegralImages::from_u8(*ImageView::create(padded, w, h, stride));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->stride, w + 1);
    EXPECT_EQ(b->sum, a->sum);
    EXPECT_EQ(b->sum_sq, a->sum_sq);
}

TEST(IntegralImages, OversizedTablesAreRefused) {
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    const std::size_t half = std::size_t{1} << 32;
    for (auto [w, h] : {std::pair{kMax, std::size_t{1}}, std::pair{std::size_t{1}, kMax}, std::pair{half, half}}) {
        // Deliberately unvalidated: the size check comes before any pixel is read.
        const ImageView view{{}, w, h, w};
        auto ii = IntegralImages::from_u8(view);
        ASSERT_FALSE(ii);
        ASSERT_TRUE(ii.error().is<err::InvalidDimensions>());
        EXPECT_EQ(ii.error().as<err::InvalidDimensions>().width, w);
        EXPECT_EQ(ii.error().as<err::InvalidDimensions>().height, h);
    }
}

TEST(IntegralImagesDeathTest, WindowOutsideTheTablesIsFatal) {
    const std::vector<std::uint8_t> px = {1, 2, 3, 4};
    auto ii = IntegralImages::from_u8(*ImageView::create(px, 2, 2, 2));
    ASSERT_TRUE(ii);
    EXPECT_DEATH(ii->window_sum(1, 0, 2, 1), "window inside integral images");
    EXPECT_DEATH(ii->window_sum_sq(0, 2, 1, 1), "window inside integral images");
    EXPECT_DEATH(IntegralImages{}.window_sum(0, 0, 0, 0), "window inside integral images");
}

}  // namespace
}  // namespace quillet
