// Full scans of every kernel over a 640 x 480 textured image, in placements per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/image/integral.hpp"
#include "core/kernel/parallel.hpp"
#include "core/kernel/scalar/masked_ssd.hpp"
#include "core/kernel/scalar/masked_zncc.hpp"
#include "core/kernel/simd.hpp"
#include "core/template/rotate.hpp"

namespace quillet {
namespace {

constexpr std::size_t kWidth = 640, kHeight = 480, kTopK = 5;
constexpr float kMinVar = 1.0f, kAnyScore = -INFINITY;

// Smooth waves plus pixel noise.
OwnedImage textured_image() {
    std::vector<std::uint8_t> px(kWidth * kHeight);
    std::uint32_t s = 12345;
    for (std::size_t y = 0; y < kHeight; ++y)
        for (std::size_t x = 0; x < kWidth; ++x) {
            s = s * 1664525u + 1013904223u;
            const float wave = 60.0f * std::sin(static_cast<float>(x) / 7.0f) * std::cos(static_cast<float>(y) / 5.0f);
            const float noise = static_cast<float>((s >> 8) % 81) - 40.0f;
            px[y * kWidth + x] = static_cast<std::uint8_t>(std::lround(std::fmin(255.0f, std::fmax(0.0f, 128.0f + wave + noise))));
        }
    return *OwnedImage::create(std::move(px), kWidth, kHeight);
}

struct Fixture {
    OwnedImage image = textured_image();
    IntegralImages integrals;
    OwnedImage tpl;
    TemplatePlan zncc;
    SsdTemplatePlan ssd;
    MaskedTemplatePlan masked_zncc;
    MaskedSsdTemplatePlan masked_ssd;

    explicit Fixture(std::size_t side) : integrals(*IntegralImages::from_u8(image.view())), tpl(crop(side)) {
        zncc = *TemplatePlan::from_view(tpl.view());
        ssd = *SsdTemplatePlan::from_view(tpl.view());
        const RotatedImage rotated = rotate_u8_bilinear_masked(tpl.view(), 0, 30.0f);
        masked_zncc = *MaskedTemplatePlan::from_rotated_parts(rotated.image.view(), rotated.mask);
        masked_ssd = *MaskedSsdTemplatePlan::from_rotated_parts(rotated.image.view(), rotated.mask);
    }

    OwnedImage crop(std::size_t side) const {
        std::vector<std::uint8_t> px;
        for (std::size_t y = 0; y < side; ++y)
            for (std::size_t x = 0; x < side; ++x) px.push_back(image.view().at(300 + x, 200 + y));
        return *OwnedImage::create(std::move(px), side, side);
    }
};

const Fixture& fixture(std::size_t side) {
    static const Fixture f16(16), f64(64);
    return side == 16 ? f16 : f64;
}

template <class Scan>
void run_full_scan(benchmark::State& state, Scan scan) {
    const std::size_t side = static_cast<std::size_t>(state.range(0));
    const Fixture& f = fixture(side);
    for (auto _ : state) {
        auto peaks = scan(f);
        if (!peaks) state.SkipWithError("scan failed");
        benchmark::DoNotOptimize(peaks);
    }
    const double placements = static_cast<double>((kWidth - side + 1) * (kHeight - side + 1));
    state.counters["placements"] = benchmark::Counter(placements * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

void BM_ZnccScanRange(benchmark::State& state) {
    run_full_scan(state, [](const Fixture& f) {
        return ZnccUnmaskedSimd::scan_range(f.image.view(), f.zncc, 0, ScanRegion::full(), kTopK, kMinVar, kAnyScore);
    });
}

void BM_ZnccScanRangeIntegral(benchmark::State& state) {
    run_full_scan(state, [](const Fixture& f) {
        return ZnccUnmaskedSimd::scan_range_integral(f.image.view(), f.zncc, 0, ScanRegion::full(), kTopK, kMinVar,
                                                     kAnyScore, f.integrals);
    });
}

void BM_SsdScanRange(benchmark::State& state) {
    run_full_scan(state, [](const Fixture& f) {
        return SsdUnmaskedSimd::scan_range(f.image.view(), f.ssd, 0, ScanRegion::full(), kTopK, kMinVar, kAnyScore);
    });
}

void BM_ZnccMaskedScan(benchmark::State& state) {
    run_full_scan(state, [](const Fixture& f) {
        return ZnccMaskedScalar::scan_range(f.image.view(), f.masked_zncc, 0, ScanRegion::full(), kTopK, kMinVar, kAnyScore);
    });
}

void BM_SsdMaskedScan(benchmark::State& state) {
    run_full_scan(state, [](const Fixture& f) {
        return SsdMaskedScalar::scan_range(f.image.view(), f.masked_ssd, 0, ScanRegion::full(), kTopK, kMinVar, kAnyScore);
    });
}

void BM_ZnccScanFullPar(benchmark::State& state) {
    run_full_scan(state, [](const Fixture& f) {
        return zncc_unmasked_scan_full_par(f.image.view(), f.zncc, 0, kTopK, kMinVar, kAnyScore);
    });
}

void BM_SsdScanFullPar(benchmark::State& state) {
    run_full_scan(state, [](const Fixture& f) {
        return ssd_unmasked_scan_full_par(f.image.view(), f.ssd, 0, kTopK, kMinVar, kAnyScore);
    });
}

BENCHMARK(BM_ZnccScanRange)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZnccScanRangeIntegral)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SsdScanRange)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZnccMaskedScan)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SsdMaskedScan)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZnccScanFullPar)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SsdScanFullPar)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quillet
