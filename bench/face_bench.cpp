// What one frame of the clock face costs at the window sizes the program allows.

#include "bench_font.hpp"
#include "face/face_layout.hpp"
#include "face/pixel_buffer.hpp"

#include <benchmark/benchmark.h>

namespace {

using kd::bench::bench_font;

void paint(benchmark::State& state, const kd::Settings& settings)
{
    const auto size = static_cast<std::uint32_t>(state.range(0));
    kd::PixelBuffer buffer = kd::make_pixel_buffer(size, size, true);
    const kd::Clock clock = kd::bench::bench_instant;
    for (auto _ : state) {
        kd::paint_face(buffer, bench_font(), settings, clock);
        benchmark::DoNotOptimize(buffer.bytes.data());
        benchmark::ClobberMemory();
    }
}

void BM_PaintFaceDefaults(benchmark::State& state) { paint(state, kd::Settings{}); }

void BM_PaintFaceSecondsTwelveHourLongLabel(benchmark::State& state)
{
    kd::Settings settings;
    settings.seconds = true;
    settings.format = kd::TimeFormat::Hours12;
    settings.label = "Kestrel Harbour Control";
    paint(state, settings);
}

BENCHMARK(BM_PaintFaceDefaults)->Arg(96)->Arg(128)->Arg(256)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintFaceSecondsTwelveHourLongLabel)
    ->Arg(96)->Arg(128)->Arg(256)->Arg(1024)->Unit(benchmark::kMicrosecond);

} // namespace
