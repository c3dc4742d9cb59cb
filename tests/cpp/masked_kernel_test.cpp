// Masked ZNCC and SSD kernels: sequential sums over the valid pixels in coords order.
#include <string>

#include <gtest/gtest.h>

#include "core/kernel/scalar/masked_ssd.hpp"
#include "core/kernel/scalar/masked_zncc.hpp"
#include "core/util/trace.hpp"
#include "tests/cpp/kernel_fixtures.hpp"

namespace quillet {
namespace {

using namespace fixtures;

constexpr float kAny = -std::numeric_limits<float>::infinity();

struct Masked {
    MaskedTemplatePlan zncc;
    MaskedSsdTemplatePlan ssd;
};

Masked masked_plans(std::size_t w, std::size_t h, std::uint32_t seed) {
    const OwnedImage tpl = noise_image(w, h, seed);
    const auto mask = ellipse_mask(w, h);
    return {with_fractions(masked_zncc_plan_of(tpl.view(), mask)), with_fractions(masked_ssd_plan_of(tpl.view(), mask))};
}

float ref_zncc(const ImageView& image, const MaskedTemplatePlan& p, std::size_t x, std::size_t y, float min_var_i) {
    return ref_zncc_sequential(image, p.coords, p.values, p.n_valid, p.var_sum, x, y, min_var_i);
}

float ref_ssd(const ImageView& image, const MaskedSsdTemplatePlan& p, std::size_t x, std::size_t y) {
    return ref_ssd_sequential(image, p.coords, p.values, x, y);
}

std::vector<std::span<const std::uint8_t>> rows_from(const ImageView& image, std::size_t y, std::size_t h) {
    std::vector<std::span<const std::uint8_t>> rows;
    for (std::size_t j = 0; j < h; ++j) rows.push_back(*image.row(y + j));
    return rows;
}

TEST(MaskedKernels, ScoresAreCoordsOrderSumsAndCachedRowsAgree) {
    const OwnedImage image = noise_image(30, 19, 21);
    const ImageView view = image.view();
    for (auto [w, h] : {std::pair<std::size_t, std::size_t>{9, 7}, {16, 16}, {17, 5}, {3, 11}}) {
        SCOPED_TRACE(::testing::Message() << w << "x" << h);
        const Masked p = masked_plans(w, h, 22);
        for (std::size_t y = 0; y + h <= view.height; ++y) {
            const auto rows = rows_from(view, y, h);
            for (std::size_t x = 0; x + w <= view.width; ++x) {
                const float z = ref_zncc(view, p.zncc, x, y, 5.0f), s = ref_ssd(view, p.ssd, x, y);
                ASSERT_EQ(bits(ZnccMaskedScalar::score_at(view, p.zncc, x, y, 5.0f)), bits(z));
                ASSERT_EQ(bits(ZnccMaskedScalar::score_at_cached(rows, p.zncc, x, 5.0f)), bits(z));
                ASSERT_EQ(bits(SsdMaskedScalar::score_at(view, p.ssd, x, y, 5.0f)), bits(s));
                ASSERT_EQ(bits(SsdMaskedScalar::score_at_cached(rows, p.ssd, x, 5.0f)), bits(s));
            }
            // Whole rows, and rows starting past column 0, scored several placements at once.
            for (std::size_t x0 : {std::size_t{0}, std::size_t{3}}) {
                std::vector<float> z(view.width - w + 1 - x0), s(z.size());
                ZnccMaskedScalar::score_row_cached(rows, p.zncc, x0, z, 5.0f);
                SsdMaskedScalar::score_row_cached(rows, p.ssd, x0, s, 5.0f);
                for (std::size_t i = 0; i < z.size(); ++i) {
                    ASSERT_EQ(bits(z[i]), bits(ref_zncc(view, p.zncc, x0 + i, y, 5.0f)));
                    ASSERT_EQ(bits(s[i]), bits(ref_ssd(view, p.ssd, x0 + i, y)));
                }
            }
        }
    }
}

TEST(MaskedKernels, ScansReturnExactlyTheKBest) {
    const OwnedImage image = noise_image(41, 23, 23);
    const ImageView view = image.view();
    const Masked p = masked_plans(9, 7, 24);
    // Regions whose rows hold whole groups of eight placements, a remainder, or fewer than eight.
    for (ScanRegion region : {ScanRegion::full(), ScanRegion{3, 2, 21, 9}, ScanRegion{30, 5, 1000, 5}}) {
        const std::size_t x1 = std::min<std::size_t>(region.x1, 41 - 9), y1 = std::min<std::size_t>(region.y1, 23 - 7);
        for (std::size_t k : {1, 9, 100000}) {
            SCOPED_TRACE(::testing::Message() << region.x0 << "," << region.y0 << " k=" << k);
            auto z = ZnccMaskedScalar::scan_range(view, p.zncc, 4, region, k, 5.0f, -0.3f);
            ASSERT_TRUE(z);
            EXPECT_TRUE(same_peaks(*z, brute_force_best(region.x0, region.y0, x1, y1, k, 4, -0.3f, [&](auto x, auto y) {
                                       return ref_zncc(view, p.zncc, x, y, 5.0f);
                                   })));
            auto s = SsdMaskedScalar::scan_range(view, p.ssd, 4, region, k, 5.0f, kAny);
            ASSERT_TRUE(s);
            EXPECT_TRUE(same_peaks(*s, brute_force_best(region.x0, region.y0, x1, y1, k, 4, kAny, [&](auto x, auto y) {
                                       return ref_ssd(view, p.ssd, x, y);
                                   })));
        }
    }
}

TEST(MaskedKernels, PixelsOutsideTheMaskHaveNoInfluence) {
    const Masked p = masked_plans(9, 7, 25);
    const auto mask = ellipse_mask(9, 7);
    const OwnedImage image = noise_image(9, 7, 26);
    std::vector<std::uint8_t> changed(image.data());
    for (std::size_t i = 0; i < changed.size(); ++i)
        if (!mask[i]) changed[i] = static_cast<std::uint8_t>(changed[i] ^ 0x5a);
    const OwnedImage other = *OwnedImage::create(std::move(changed), 9, 7);
    ASSERT_NE(image.data(), other.data());
    EXPECT_EQ(bits(ZnccMaskedScalar::score_at(other.view(), p.zncc, 0, 0, 0.0f)),
              bits(ZnccMaskedScalar::score_at(image.view(), p.zncc, 0, 0, 0.0f)));
    EXPECT_EQ(bits(SsdMaskedScalar::score_at(other.view(), p.ssd, 0, 0, 0.0f)),
              bits(SsdMaskedScalar::score_at(image.view(), p.ssd, 0, 0, 0.0f)));
}

TEST(MaskedKernels, LastPlacementIsScoredAndTheNextIsNot) {
    const OwnedImage image = noise_image(20, 15, 27);
    const Masked p = masked_plans(9, 7, 28);
    EXPECT_NE(ZnccMaskedScalar::score_at(image.view(), p.zncc, 11, 8, 0.0f), kNoScore);
    EXPECT_NE(SsdMaskedScalar::score_at(image.view(), p.ssd, 11, 8, 0.0f), kNoScore);
    EXPECT_EQ(ZnccMaskedScalar::score_at(image.view(), p.zncc, 12, 8, 0.0f), kNoScore);
    EXPECT_EQ(SsdMaskedScalar::score_at(image.view(), p.ssd, 11, 9, 0.0f), kNoScore);
}

TEST(MaskedKernels, ScanChecks) {
    const OwnedImage image = noise_image(8, 12, 29);
    const Masked p = masked_plans(9, 7, 30);
    EXPECT_TRUE(ZnccMaskedScalar::scan_range(image.view(), p.zncc, 0, ScanRegion::full(), 0, 0.0f, kAny)->empty());
    EXPECT_TRUE(SsdMaskedScalar::scan_range(image.view(), p.ssd, 0, ScanRegion::full(), 0, 0.0f, kAny)->empty());
    auto z = ZnccMaskedScalar::scan_range(image.view(), p.zncc, 0, ScanRegion::full(), 2, 0.0f, kAny);
    ASSERT_FALSE(z);
    ASSERT_TRUE(z.error().is<err::RoiOutOfBounds>());
    EXPECT_EQ(z.error().as<err::RoiOutOfBounds>().width, 9u);
    EXPECT_EQ(z.error().as<err::RoiOutOfBounds>().img_width, 8u);
    auto s = SsdMaskedScalar::scan_range(image.view(), p.ssd, 0, ScanRegion::full(), 2, 0.0f, kAny);
    ASSERT_FALSE(s);
    EXPECT_TRUE(s.error().is<err::RoiOutOfBounds>());
    EXPECT_EQ(ZnccMaskedScalar::score_at(image.view(), p.zncc, 0, 0, 0.0f), kNoScore);
    // A region starting past the last placement is empty.
    const OwnedImage wide = noise_image(20, 12, 31);
    EXPECT_TRUE(ZnccMaskedScalar::scan_range(wide.view(), p.zncc, 0, {12, 0, 20, 5}, 2, 0.0f, kAny)->empty());
}

TEST(MaskedKernels, ConstantValidWindow) {
    const OwnedImage flat = *OwnedImage::create(std::vector<std::uint8_t>(20 * 20, 77), 20, 20);
    const Masked p = masked_plans(9, 7, 32);
    EXPECT_EQ(ZnccMaskedScalar::score_at(flat.view(), p.zncc, 3, 3, 0.0f), kNoScore);
    EXPECT_TRUE(ZnccMaskedScalar::scan_range(flat.view(), p.zncc, 0, ScanRegion::full(), 5, 0.0f, kAny)->empty());
    EXPECT_EQ(bits(SsdMaskedScalar::score_at(flat.view(), p.ssd, 3, 3, 0.0f)), bits(ref_ssd(flat.view(), p.ssd, 3, 3)));
    EXPECT_EQ(SsdMaskedScalar::scan_range(flat.view(), p.ssd, 0, ScanRegion::full(), 5, 0.0f, kAny)->size(), 5u);
}

TEST(MaskedKernels, DegenerateTemplateHasNoZnccScore) {
    const OwnedImage image = noise_image(20, 20, 33);
    MaskedTemplatePlan p = masked_plans(9, 7, 34).zncc;
    p.var_sum = 1e-8f;
    const std::vector<std::span<const std::uint8_t>> rows = rows_from(image.view(), 0, 7);
    EXPECT_EQ(ZnccMaskedScalar::score_at(image.view(), p, 0, 0, kAny), kNoScore);
    EXPECT_EQ(ZnccMaskedScalar::score_at_cached(rows, p, 0, kAny), kNoScore);
    EXPECT_TRUE(ZnccMaskedScalar::scan_range(image.view(), p, 0, ScanRegion::full(), 5, kAny, kAny)->empty());
}

TEST(MaskedKernels, SsdPerfectMatchIsNegativeZero) {
    const OwnedImage image = noise_image(30, 20, 35);
    const OwnedImage tpl = crop(image.view(), 6, 4, 11, 9);
    const MaskedSsdTemplatePlan p = masked_ssd_plan_of(tpl.view(), ellipse_mask(11, 9));
    EXPECT_EQ(bits(SsdMaskedScalar::score_at(image.view(), p, 6, 4, 0.0f)), bits(-0.0f));
    auto best = SsdMaskedScalar::scan_range(image.view(), p, 0, ScanRegion::full(), 1, 0.0f, kAny);
    ASSERT_TRUE(best);
    EXPECT_TRUE(same_peaks(*best, {{6, 4, 0, -0.0f}}));
}

struct SpanRecorder : trace::Subscriber {
    std::vector<std::string> log;
    void enter(std::string_view span, trace::Fields fields) override {
        std::string line(span);
        for (const auto& f : fields) {
            line.append(" ").append(f.name).append("=");
            line += std::to_string(std::get<std::uint64_t>(f.value));
        }
        log.push_back(line);
    }
    void exit(std::string_view span) override { log.push_back(std::string("exit ").append(span)); }
    void event(std::string_view, trace::Fields) override {}
};

TEST(MaskedKernels, ScansOpenTheirSpans) {
    const OwnedImage image = noise_image(20, 20, 36);
    const Masked p = masked_plans(9, 7, 37);
    SpanRecorder recorder;
    trace::set_subscriber(&recorder);
    (void)ZnccMaskedScalar::scan_range(image.view(), p.zncc, 3, ScanRegion::full(), 1, 0.0f, kAny);
    (void)SsdMaskedScalar::scan_range(image.view(), p.ssd, 5, ScanRegion::full(), 0, 0.0f, kAny);
    trace::set_subscriber(nullptr);
    EXPECT_EQ(recorder.log, (std::vector<std::string>{"zncc_masked_scan angle_idx=3 tpl_w=9 tpl_h=7", "exit zncc_masked_scan",
                                                      "ssd_masked_scan angle_idx=5 tpl_w=9 tpl_h=7", "exit ssd_masked_scan"}));
}

}  // namespace
}  // namespace quillet
