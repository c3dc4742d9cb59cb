// Unmasked ZNCC and SSD kernels: bit-exact eight-lane scores, scans, and the integral scan.
#include "core/kernel/simd.hpp"

#include <array>

#include <gtest/gtest.h>

#include "tests/cpp/kernel_fixtures.hpp"

namespace quillet {
namespace {

using namespace fixtures;

constexpr float kAny = -std::numeric_limits<float>::infinity();

struct Size {
    std::size_t w, h;
};

// Widths on both sides of the eight-lane chunking (tail only, lanes only, both), odd heights.
std::vector<Size> template_sizes() {
    std::vector<Size> sizes;
    for (std::size_t w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17})
        for (std::size_t h : {3, 5}) sizes.push_back({w, h});
    return sizes;
}

TEST(UnmaskedKernels, ScoresFollowTheEightLaneOrderBitForBit) {
    const OwnedImage image = noise_image(29, 13, 1);
    const OwnedImage source = noise_image(17, 5, 2);
    for (Size s : template_sizes()) {
        SCOPED_TRACE(::testing::Message() << s.w << "x" << s.h);
        const OwnedImage tpl = crop(source.view(), 0, 0, s.w, s.h);
        const TemplatePlan zncc = with_fractions(zncc_plan_of(tpl.view()));
        const SsdTemplatePlan ssd = with_fractions(ssd_plan_of(tpl.view()));
        for (std::size_t y = 0; y + s.h <= image.height(); ++y)
            for (std::size_t x = 0; x + s.w <= image.width(); ++x) {
                ASSERT_EQ(bits(ZnccUnmaskedSimd::score_at(image.view(), zncc, x, y, 1.0f)),
                          bits(ref_zncc_lanes(image.view(), zncc, x, y, 1.0f)));
                ASSERT_EQ(bits(SsdUnmaskedSimd::score_at(image.view(), ssd, x, y, 1.0f)),
                          bits(ref_ssd_lanes(image.view(), ssd, x, y)));
            }
    }
}

TEST(UnmaskedKernels, ScansReturnExactlyTheKBest) {
    const OwnedImage image = noise_image(31, 14, 3);
    const ImageView view = image.view();
    const OwnedImage source = noise_image(17, 5, 4);
    for (Size s : template_sizes()) {
        SCOPED_TRACE(::testing::Message() << s.w << "x" << s.h);
        const OwnedImage tpl = crop(source.view(), 0, 0, s.w, s.h);
        const TemplatePlan zncc = with_fractions(zncc_plan_of(tpl.view()));
        const SsdTemplatePlan ssd = with_fractions(ssd_plan_of(tpl.view()));
        const std::size_t mx = view.width - s.w, my = view.height - s.h;
        for (std::size_t k : {1, 7, 10000}) {
            auto z = ZnccUnmaskedSimd::scan_range(view, zncc, 3, ScanRegion::full(), k, 10.0f, -0.2f);
            ASSERT_TRUE(z);
            EXPECT_TRUE(same_peaks(*z, brute_force_best(0, 0, mx, my, k, 3, -0.2f, [&](auto x, auto y) {
                                       return ref_zncc_lanes(view, zncc, x, y, 10.0f);
                                   })));
            auto d = SsdUnmaskedSimd::scan_range(view, ssd, 0, ScanRegion::full(), k, 0.0f, kAny);
            ASSERT_TRUE(d);
            EXPECT_TRUE(same_peaks(*d, brute_force_best(0, 0, mx, my, k, 0, kAny, [&](auto x, auto y) {
                                       return ref_ssd_lanes(view, ssd, x, y);
                                   })));
        }
    }
}

TEST(UnmaskedKernels, ScanRegionIsClampedToValidPlacements) {
    const OwnedImage image = noise_image(20, 12, 5);
    const OwnedImage tpl = crop(noise_image(6, 4, 6).view(), 0, 0, 6, 4);
    const TemplatePlan plan = zncc_plan_of(tpl.view());
    const ImageView view = image.view();
    auto score = [&](std::size_t x, std::size_t y) { return ref_zncc_lanes(view, plan, x, y, 0.0f); };
    struct Case {
        ScanRegion region;
        std::size_t x0, y0, x1, y1;  // expected rectangle; x0 > x1 means empty
    };
    const Case cases[] = {
        {{3, 2, 100, 100}, 3, 2, 14, 8},  // far corner clamped to (W - w, H - h)
        {{14, 8, 14, 8}, 14, 8, 14, 8},   // last valid placement
        {{15, 0, 20, 5}, 1, 0, 0, 0},     // x0 beyond W - w
        {{0, 9, 5, 20}, 1, 0, 0, 0},      // y0 beyond H - h
        {{5, 3, 4, 6}, 1, 0, 0, 0},       // inverted columns
        {{2, 5, 6, 4}, 1, 0, 0, 0},       // inverted rows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.region.x0 << "," << c.region.y0 << "," << c.region.x1 << "," << c.region.y1);
        auto got = ZnccUnmaskedSimd::scan_range(view, plan, 0, c.region, 1000, 0.0f, kAny);
        ASSERT_TRUE(got);
        if (c.x0 > c.x1)
            EXPECT_TRUE(got->empty());
        else
            EXPECT_TRUE(same_peaks(*got, brute_force_best(c.x0, c.y0, c.x1, c.y1, 1000, 0, kAny, score)));
    }
}

TEST(UnmaskedKernels, TemplateLargerThanImage) {
    const OwnedImage image = noise_image(5, 9, 7);
    const OwnedImage tpl = noise_image(6, 4, 8);
    const TemplatePlan zncc = zncc_plan_of(tpl.view());
    const SsdTemplatePlan ssd = ssd_plan_of(tpl.view());
    auto z = ZnccUnmaskedSimd::scan_range(image.view(), zncc, 0, ScanRegion::full(), 5, 0.0f, kAny);
    ASSERT_FALSE(z);
    ASSERT_TRUE(z.error().is<err::RoiOutOfBounds>());
    const auto& e = z.error().as<err::RoiOutOfBounds>();
    EXPECT_EQ((std::array{e.x, e.y, e.width, e.height, e.img_width, e.img_height}),
              (std::array<std::size_t, 6>{0, 0, 6, 4, 5, 9}));
    auto d = SsdUnmaskedSimd::scan_range(image.view(), ssd, 0, ScanRegion::full(), 5, 0.0f, kAny);
    ASSERT_FALSE(d);
    EXPECT_TRUE(d.error().is<err::RoiOutOfBounds>());
    EXPECT_EQ(ZnccUnmaskedSimd::score_at(image.view(), zncc, 0, 0, 0.0f), kNoScore);
    EXPECT_EQ(SsdUnmaskedSimd::score_at(image.view(), ssd, 0, 0, 0.0f), kNoScore);
    // k = 0 is answered before the size is looked at.
    EXPECT_TRUE(ZnccUnmaskedSimd::scan_range(image.view(), zncc, 0, ScanRegion::full(), 0, 0.0f, kAny)->empty());
    EXPECT_TRUE(SsdUnmaskedSimd::scan_range(image.view(), ssd, 0, ScanRegion::full(), 0, 0.0f, kAny)->empty());
}

TEST(UnmaskedKernels, PlacementsOutsideTheImageHaveNoScore) {
    const OwnedImage image = noise_image(12, 10, 9);
    const OwnedImage tpl = noise_image(4, 3, 10);
    const TemplatePlan zncc = zncc_plan_of(tpl.view());
    const SsdTemplatePlan ssd = ssd_plan_of(tpl.view());
    EXPECT_NE(ZnccUnmaskedSimd::score_at(image.view(), zncc, 8, 7, 0.0f), kNoScore);
    EXPECT_EQ(ZnccUnmaskedSimd::score_at(image.view(), zncc, 9, 7, 0.0f), kNoScore);
    EXPECT_EQ(ZnccUnmaskedSimd::score_at(image.view(), zncc, 8, 8, 0.0f), kNoScore);
    EXPECT_EQ(SsdUnmaskedSimd::score_at(image.view(), ssd, 9, 0, 0.0f), kNoScore);
    // The unchecked entry still refuses windows that leave the image instead of reading past it.
    EXPECT_EQ(ZnccUnmaskedSimd::score_at_simd(image.view(), zncc, 9, 0, 0.0f), kNoScore);
    EXPECT_EQ(ZnccUnmaskedSimd::score_at_simd(image.view(), zncc, 0, 8, 0.0f), kNoScore);
    EXPECT_EQ(SsdUnmaskedSimd::score_at_simd(image.view(), ssd, 9, 0), kNoScore);
}

TEST(UnmaskedKernels, RowsMissingFromTheBufferGiveNoScore) {
    // A view whose last row is cut short (not one that ImageView::create would accept).
    const OwnedImage full = noise_image(10, 6, 20);
    const ImageView cut{std::span(full.data()).first(57), 10, 6, 10};
    const TemplatePlan zncc = zncc_plan_of(noise_image(4, 3, 21).view());
    const SsdTemplatePlan ssd = ssd_plan_of(noise_image(4, 3, 21).view());
    EXPECT_NE(ZnccUnmaskedSimd::score_at(cut, zncc, 2, 2, 0.0f), kNoScore);
    EXPECT_EQ(ZnccUnmaskedSimd::score_at(cut, zncc, 2, 3, 0.0f), kNoScore);
    EXPECT_EQ(SsdUnmaskedSimd::score_at(cut, ssd, 0, 3, 0.0f), kNoScore);
    auto peaks = SsdUnmaskedSimd::scan_range(cut, ssd, 0, ScanRegion::full(), 1000, 0.0f, kAny);
    ASSERT_TRUE(peaks);
    EXPECT_EQ(peaks->size(), 7u * 3u);
    for (const Peak& p : *peaks) EXPECT_LT(p.y, 3u);
}

TEST(UnmaskedKernels, ImageOfTemplateSizeHasOnePlacement) {
    const OwnedImage tpl = noise_image(9, 5, 11);
    auto z = ZnccUnmaskedSimd::scan_range(tpl.view(), zncc_plan_of(tpl.view()), 0, ScanRegion::full(), 4, 0.0f, kAny);
    ASSERT_TRUE(z);
    ASSERT_EQ(z->size(), 1u);
    EXPECT_EQ(((*z)[0].x + (*z)[0].y), 0u);
    EXPECT_NEAR((*z)[0].score, 1.0f, 1e-5f);
}

TEST(UnmaskedKernels, ZnccOfIdenticalAndNegatedWindows) {
    const OwnedImage image = noise_image(40, 30, 12);
    const TemplatePlan plan = zncc_plan_of(crop(image.view(), 7, 5, 17, 9).view());
    EXPECT_NEAR(ZnccUnmaskedSimd::score_at(image.view(), plan, 7, 5, 0.0f), 1.0f, 1e-5f);
    std::vector<std::uint8_t> negated(image.data());
    for (auto& p : negated) p = static_cast<std::uint8_t>(255 - p);
    const OwnedImage neg = *OwnedImage::create(std::move(negated), 40, 30);
    EXPECT_NEAR(ZnccUnmaskedSimd::score_at(neg.view(), plan, 7, 5, 0.0f), -1.0f, 1e-5f);
}

TEST(UnmaskedKernels, FlatWindowHasNoZnccScore) {
    std::vector<std::uint8_t> px(40 * 20, 255);
    for (std::size_t x = 20; x < 40; ++x) px[5 * 40 + x] = static_cast<std::uint8_t>(x * 3);
    const OwnedImage image = *OwnedImage::create(std::move(px), 40, 20);
    const TemplatePlan plan = zncc_plan_of(noise_image(16, 16, 13).view());
    EXPECT_EQ(ZnccUnmaskedSimd::score_at(image.view(), plan, 0, 0, 0.0f), kNoScore);
    EXPECT_NE(ZnccUnmaskedSimd::score_at(image.view(), plan, 24, 0, 0.0f), kNoScore);
    auto peaks = ZnccUnmaskedSimd::scan_range(image.view(), plan, 0, ScanRegion::full(), 10000, 0.0f, kAny);
    ASSERT_TRUE(peaks);
    for (const Peak& p : *peaks) EXPECT_GT(p.x + 16, 20u) << p.x << "," << p.y;
    EXPECT_FALSE(peaks->empty());
}

TEST(UnmaskedKernels, FlatTemplateScansNothing) {
    const OwnedImage image = noise_image(20, 20, 14);
    const TemplatePlan flat{4, 4, std::vector<float>(16, 0.0f), 0.0f};
    auto peaks = ZnccUnmaskedSimd::scan_range(image.view(), flat, 0, ScanRegion::full(), 5, 0.0f, kAny);
    ASSERT_TRUE(peaks);
    EXPECT_TRUE(peaks->empty());
}

TEST(UnmaskedKernels, SsdOfPerfectAndOffsetMatches) {
    const OwnedImage image = noise_image(30, 20, 15);
    const SsdTemplatePlan plan = ssd_plan_of(crop(image.view(), 9, 4, 17, 7).view());
    const float perfect = SsdUnmaskedSimd::score_at(image.view(), plan, 9, 4, 0.0f);
    EXPECT_EQ(bits(perfect), bits(-0.0f));

    const OwnedImage uniform = *OwnedImage::create(std::vector<std::uint8_t>(30 * 20, 101), 30, 20);
    const SsdTemplatePlan grey{17, 7, std::vector<float>(17 * 7, 100.0f)};
    // Flat windows score normally under SSD whatever min_var_i says.
    EXPECT_EQ(SsdUnmaskedSimd::score_at(uniform.view(), grey, 3, 2, 1e9f), -float(17 * 7));
    auto peaks = SsdUnmaskedSimd::scan_range(uniform.view(), grey, 0, ScanRegion::full(), 3, 1e9f, kAny);
    ASSERT_TRUE(peaks);
    // All placements tie: the smallest y, then the smallest x, come first.
    const std::vector<Peak> want{{0, 0, 0, -119.0f}, {1, 0, 0, -119.0f}, {2, 0, 0, -119.0f}};
    EXPECT_TRUE(same_peaks(*peaks, want));
}

// Integral tables built in 32-bit floats, row running sums added to the row above.
struct FloatIntegrals {
    std::vector<float> sum, sq;
    std::size_t stride;

    explicit FloatIntegrals(const ImageView& v) : sum((v.width + 1) * (v.height + 1)), sq(sum.size()), stride(v.width + 1) {
        for (std::size_t j = 0; j < v.height; ++j) {
            float r = 0, q = 0;
            for (std::size_t i = 0; i < v.width; ++i) {
                const float p = px(v, i, j);
                r = r + p;
                q = q + p * p;
                sum[(j + 1) * stride + i + 1] = sum[j * stride + i + 1] + r;
                sq[(j + 1) * stride + i + 1] = sq[j * stride + i + 1] + q;
            }
        }
    }
    float window(const std::vector<float>& t, std::size_t x, std::size_t y, std::size_t w, std::size_t h) const {
        const float tl = t[y * stride + x], tr = t[y * stride + x + w];
        const float bl = t[(y + h) * stride + x], br = t[(y + h) * stride + x + w];
        return ((tl + br) - tr) - bl;
    }
};

TEST(UnmaskedKernels, IntegralScanMatchesDirectScanOnExactSums) {
    // 16 x 16 pixels: every table entry stays below 2^24.
    const OwnedImage image = noise_image(16, 16, 16);
    const ImageView view = image.view();
    auto integrals = IntegralImages::from_u8(view);
    ASSERT_TRUE(integrals);
    const FloatIntegrals tables(view);
    for (Size s : {Size{5, 3}, Size{8, 5}, Size{9, 7}}) {
        SCOPED_TRACE(::testing::Message() << s.w << "x" << s.h);
        const TemplatePlan plan = zncc_plan_of(noise_image(s.w, s.h, 17).view());
        const float n = static_cast<float>(s.w * s.h);
        const ScanRegion region{1, 2, 6, 100};
        const std::size_t y1 = 16 - s.h;
        auto got = ZnccUnmaskedSimd::scan_range_integral(view, plan, 2, region, 30, 50.0f, -0.5f, *integrals);
        ASSERT_TRUE(got);
        auto direct = ZnccUnmaskedSimd::scan_range(view, plan, 2, region, 30, 50.0f, -0.5f);
        EXPECT_TRUE(same_peaks(*got, *direct));
        EXPECT_TRUE(same_peaks(*got, brute_force_best(1, 2, 6, y1, 30, 2, -0.5f, [&](auto x, auto y) {
                                   const float sum = tables.window(tables.sum, x, y, s.w, s.h);
                                   const float sq = tables.window(tables.sq, x, y, s.w, s.h);
                                   const float cross = eight_lane_sums(view, plan.values, s.w, s.h, x, y).cross;
                                   return zncc_from_sums(sum, sq, cross, n, plan.var_sum, 50.0f);
                               })));
    }
}

TEST(UnmaskedKernels, IntegralScanSharesTheScanChecks) {
    const OwnedImage image = noise_image(6, 6, 18);
    auto integrals = IntegralImages::from_u8(image.view());
    ASSERT_TRUE(integrals);
    const TemplatePlan plan = zncc_plan_of(noise_image(7, 2, 19).view());
    EXPECT_TRUE(ZnccUnmaskedSimd::scan_range_integral(image.view(), plan, 0, ScanRegion::full(), 0, 0.0f, kAny, *integrals)->empty());
    auto e = ZnccUnmaskedSimd::scan_range_integral(image.view(), plan, 0, ScanRegion::full(), 3, 0.0f, kAny, *integrals);
    ASSERT_FALSE(e);
    EXPECT_TRUE(e.error().is<err::RoiOutOfBounds>());
}

}  // namespace
}  // namespace quillet
