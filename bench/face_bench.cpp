// What one frame of the clock face costs at the window sizes the program allows.

#include "bench_font.hpp"
#include "face/face_layout.hpp"
#include "face/pixel_buffer.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace {

using kd::bench::bench_font;

void paint(benchmark::State& state, const kd::Settings& settings)
{
    const auto size = static_cast<std::uint32_t>(state.range(0));
    kd::PixelBuffer buffer = kd::make_pixel_buffer(size, size, true);
    const kd::Clock clock = kd::bench::bench_instant;
    kd::TextScratch scratch;
    for (auto _ : state) {
        kd::paint_face(buffer, bench_font(), scratch, settings, clock);
        benchmark::DoNotOptimize(buffer.bytes.data());
        benchmark::ClobberMemory();
    }
}

void BM_PaintFaceDefaults(benchmark::State& state)
{
    paint(state, kd::Settings{});
}

void BM_PaintFaceSecondsTwelveHourLongLabel(benchmark::State& state)
{
    kd::Settings settings;
    settings.seconds = true;
    settings.format = kd::TimeFormat::Hours12;
    settings.label = "Kestrel Harbour Control";
    paint(state, settings);
}

// A label of the given length, in words: a few characters cost what any short label costs; a
// huge one must not cost much more.
void BM_PaintFaceLabelLength(benchmark::State& state)
{
    static constexpr std::string_view WORDS = "Kestrel Harbour Control ";
    std::string label;
    for (auto length = static_cast<std::size_t>(state.range(1)); label.size() < length;)
        label += WORDS.substr(0, std::min(WORDS.size(), length - label.size()));
    kd::Settings settings;
    settings.label = label;
    paint(state, settings);
}

// Hebrew with digits and parentheses: laid out through the bidirectional runs.
void BM_PaintFaceRightToLeftLabel(benchmark::State& state)
{
    kd::Settings settings;
    settings.label = "\u05E9\u05DC\u05D5\u05DD 2026";
    paint(state, settings);
}

BENCHMARK(BM_PaintFaceDefaults)
    ->Arg(96)
    ->Arg(128)
    ->Arg(256)
    ->Arg(1024)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintFaceSecondsTwelveHourLongLabel)
    ->Arg(96)
    ->Arg(128)
    ->Arg(256)
    ->Arg(1024)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintFaceLabelLength)
    ->ArgsProduct({{96, 1024}, {4, 120000}})
    ->ArgNames({"size", "length"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintFaceRightToLeftLabel)->Arg(96)->Arg(1024)->Unit(benchmark::kMicrosecond);

} // namespace
