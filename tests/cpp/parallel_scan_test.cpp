// Parallel full-image scans: row-major running sums, the same peaks for every thread count.
#include "core/kernel/parallel.hpp"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "core/kernel/simd.hpp"
#include "tests/cpp/kernel_fixtures.hpp"

namespace quillet {
namespace {

using namespace fixtures;

constexpr float kAny = -std::numeric_limits<float>::infinity();

float ref_zncc(const ImageView& image, const TemplatePlan& p, std::size_t x, std::size_t y, float min_var_i) {
    return ref_zncc_sequential(image, all_coords(p.width, p.height), p.values, static_cast<float>(p.width * p.height),
                               p.var_sum, x, y, min_var_i);
}

float ref_ssd(const ImageView& image, const SsdTemplatePlan& p, std::size_t x, std::size_t y) {
    return ref_ssd_sequential(image, all_coords(p.width, p.height), p.values, x, y);
}

TEST(ParallelScans, SameKBestForEveryThreadCount) {
    const OwnedImage image = noise_image(53, 37, 41);
    const ImageView view = image.view();
    const OwnedImage tpl = noise_image(11, 6, 42);
    const TemplatePlan zncc = with_fractions(zncc_plan_of(tpl.view()));
    const SsdTemplatePlan ssd = with_fractions(ssd_plan_of(tpl.view()));
    const std::size_t mx = 53 - 11, my = 37 - 6;
    for (std::size_t k : {1, 25, 100000}) {
        const auto want_zncc = brute_force_best(0, 0, mx, my, k, 6, -0.25f, [&](auto x, auto y) { return ref_zncc(view, zncc, x, y, 20.0f); });
        const auto want_ssd = brute_force_best(0, 0, mx, my, k, 6, kAny, [&](auto x, auto y) { return ref_ssd(view, ssd, x, y); });
        for (std::size_t threads : {1, 2, 4}) {
            SCOPED_TRACE(::testing::Message() << "k=" << k << " threads=" << threads);
            tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
            auto z = zncc_unmasked_scan_full_par(view, zncc, 6, k, 20.0f, -0.25f);
            ASSERT_TRUE(z);
            EXPECT_TRUE(same_peaks(*z, want_zncc));
            auto s = ssd_unmasked_scan_full_par(view, ssd, 6, k, 20.0f, kAny);
            ASSERT_TRUE(s);
            EXPECT_TRUE(same_peaks(*s, want_ssd));
        }
    }
}

TEST(ParallelScans, SsdEqualsTheSerialScanWhenSumsAreExact) {
    const OwnedImage image = noise_image(48, 40, 43);
    const SsdTemplatePlan plan = ssd_plan_of(crop(image.view(), 20, 9, 16, 16).view());
    auto par = ssd_unmasked_scan_full_par(image.view(), plan, 0, 50, 0.0f, kAny);
    auto serial = SsdUnmaskedSimd::scan_range(image.view(), plan, 0, ScanRegion::full(), 50, 0.0f, kAny);
    ASSERT_TRUE(par && serial);
    EXPECT_TRUE(same_peaks(*par, *serial));
    EXPECT_EQ((*par)[0].x, 20u);
    EXPECT_EQ((*par)[0].y, 9u);
}

TEST(ParallelScans, Checks) {
    const OwnedImage small = noise_image(10, 4, 44);
    const TemplatePlan zncc = zncc_plan_of(noise_image(11, 3, 45).view());
    const SsdTemplatePlan ssd = ssd_plan_of(noise_image(11, 3, 45).view());
    EXPECT_TRUE(zncc_unmasked_scan_full_par(small.view(), zncc, 0, 0, 0.0f, kAny)->empty());
    EXPECT_TRUE(ssd_unmasked_scan_full_par(small.view(), ssd, 0, 0, 0.0f, kAny)->empty());
    auto z = zncc_unmasked_scan_full_par(small.view(), zncc, 0, 3, 0.0f, kAny);
    ASSERT_FALSE(z);
    ASSERT_TRUE(z.error().is<err::RoiOutOfBounds>());
    EXPECT_EQ(z.error().as<err::RoiOutOfBounds>().img_width, 10u);
    auto s = ssd_unmasked_scan_full_par(small.view(), ssd, 0, 3, 0.0f, kAny);
    ASSERT_FALSE(s);
    EXPECT_TRUE(s.error().is<err::RoiOutOfBounds>());

    const OwnedImage image = noise_image(20, 20, 46);
    const TemplatePlan flat{4, 4, std::vector<float>(16, 0.0f), 1e-8f};
    EXPECT_TRUE(zncc_unmasked_scan_full_par(image.view(), flat, 0, 5, 0.0f, kAny)->empty());
    const SsdTemplatePlan grey{4, 4, std::vector<float>(16, 9.0f)};
    EXPECT_EQ(ssd_unmasked_scan_full_par(image.view(), grey, 0, 5, 0.0f, kAny)->size(), 5u);
}

TEST(ParallelScans, ImageOfTemplateSizeHasOnePlacement) {
    const OwnedImage tpl = noise_image(7, 5, 47);
    auto z = zncc_unmasked_scan_full_par(tpl.view(), zncc_plan_of(tpl.view()), 2, 3, 0.0f, kAny);
    ASSERT_TRUE(z);
    ASSERT_EQ(z->size(), 1u);
    EXPECT_EQ((*z)[0].x + (*z)[0].y, 0u);
    EXPECT_EQ((*z)[0].angle_idx, 2u);
    EXPECT_NEAR((*z)[0].score, 1.0f, 1e-5f);
}

}  // namespace
}  // namespace quillet
