// End-to-end match timings: a 640x480 textured scene and a 64x64 template cut from it.
#include <benchmark/benchmark.h>

#include "core/search/matcher.hpp"
#include "../tests/cpp/scenes.hpp"

namespace quillet {
namespace {

const testing::Gray& scene() {
    static const testing::Gray s = testing::textured(640, 480, 5, 2);
    return s;
}

Template template_from_scene() {
    auto t = testing::crop(scene(), 300, 200, 64, 64);
    return expect_ok(Template::create(t.pixels, t.width, t.height), "template");
}

MatchConfig config(Metric metric, bool parallel, RotationMode rotation) {
    MatchConfig c;
    c.metric = metric;
    c.parallel = parallel;
    c.rotation = rotation;
    return c;
}

void run_warm(benchmark::State& state, const std::shared_ptr<const CompiledTemplate>& compiled, const MatchConfig& c) {
    const Matcher matcher(compiled, c);
    expect_ok(matcher.match_image(scene().view()), "warm-up");
    for (auto _ : state) benchmark::DoNotOptimize(expect_ok(matcher.match_image(scene().view()), "match"));
}

void BM_MatchUnrotated(benchmark::State& state) {
    auto compiled = std::make_shared<const CompiledTemplate>(expect_ok(CompiledTemplate::compile_unrotated(template_from_scene(), 6), "compile"));
    run_warm(state, compiled, config(Metric(state.range(0)), state.range(1) != 0, RotationMode::Disabled));
}

void BM_MatchRotatedWarm(benchmark::State& state) {
    auto compiled = std::make_shared<const CompiledTemplate>(expect_ok(CompiledTemplate::compile_rotated(template_from_scene(), CompileConfig{}), "compile"));
    run_warm(state, compiled, config(Metric(state.range(0)), state.range(1) != 0, RotationMode::Enabled));
}

// First call on a freshly compiled template (coarsest rotations precomputed at compile time,
// finer ones built on demand inside the call); the compile itself is not timed.
void BM_MatchRotatedFirstCall(benchmark::State& state) {
    const MatchConfig c = config(Metric(state.range(0)), state.range(1) != 0, RotationMode::Enabled);
    for (auto _ : state) {
        state.PauseTiming();
        auto compiled = std::make_shared<const CompiledTemplate>(expect_ok(CompiledTemplate::compile_rotated(template_from_scene(), CompileConfig{}), "compile"));
        const Matcher matcher(compiled, c);
        state.ResumeTiming();
        benchmark::DoNotOptimize(expect_ok(matcher.match_image(scene().view()), "match"));
    }
}

void BM_CompileRotated(benchmark::State& state) {
    const Template t = template_from_scene();
    for (auto _ : state) benchmark::DoNotOptimize(expect_ok(CompiledTemplate::compile_rotated(t, CompileConfig{}), "compile"));
}

// Arguments: metric (0 zncc, 1 ssd), parallel (0, 1).
#define QUILLET_VARIANTS ->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_MatchUnrotated) QUILLET_VARIANTS;
BENCHMARK(BM_MatchRotatedWarm) QUILLET_VARIANTS;
BENCHMARK(BM_MatchRotatedFirstCall) QUILLET_VARIANTS->Iterations(5);
BENCHMARK(BM_CompileRotated)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillet
