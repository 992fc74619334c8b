// What one frame of the clock face costs at the window sizes the program allows.

#include "base/utf8.hpp"
#include "bench_font.hpp"
#include "face/face_layout.hpp"
#include "face/pixel_buffer.hpp"

#include <benchmark/benchmark.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kd::bench::bench_font;

void paint(benchmark::State& state, const kd::Settings& settings,
           const kd::Font& font = bench_font())
{
    const auto size = static_cast<std::uint32_t>(state.range(0));
    kd::PixelBuffer buffer = kd::make_pixel_buffer(size, size, true);
    const kd::Clock clock = kd::bench::bench_instant;
    kd::TextScratch scratch;
    for (auto _ : state) {
        kd::paint_face(buffer, font, scratch, settings, clock);
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

kd::Font parsed_font(const char* path)
{
    auto bytes = kd::read_font_file(path);
    if (!bytes) throw std::runtime_error(bytes.error().text);
    auto parsed = kd::load_font(std::move(*bytes));
    if (!parsed) throw std::runtime_error(parsed.error().text);
    return std::move(*parsed);
}

// 0: the mono font that the clock finds by default; 1: DejaVu Sans, with Hebrew and Arabic
// letters and marks placed by the font's own tables; 2: WenQuanYi Micro Hei, a CJK font in
// which every ideograph is a glyph of its own, when fonts-wqy-microhei is installed.
const kd::Font* label_font(std::int64_t which)
{
    static const kd::Font sans = parsed_font("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    static const std::optional<kd::Font> cjk = []() -> std::optional<kd::Font> {
        try {
            return parsed_font("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc");
        } catch (const std::runtime_error&) {
            return std::nullopt;
        }
    }();
    if (which == 0) return &bench_font();
    if (which == 1) return &sans;
    return cjk ? &*cjk : nullptr;
}

std::string repeated_to(std::string_view piece, std::size_t bytes)
{
    std::string text;
    text.reserve(bytes + piece.size());
    while (text.size() < bytes)
        text += piece;
    return text;
}

// Ideographs from U+4E00 on, none twice: every one a glyph to load.
std::string distinct_ideographs(std::size_t bytes)
{
    std::string text;
    for (char32_t code = 0x4E00; text.size() < bytes && code <= 0x9FFF; ++code)
        kd::append_utf8(text, code);
    return text;
}

struct LabelCase {
    const char* name;
    std::string text;
};

constexpr std::size_t MEGABYTE = 1 << 20;

// What a user could put in a label, hostile or not; the first is the ten characters that every
// other is held against.
const std::vector<LabelCase>& labels()
{
    static const std::vector<LabelCase> cases = {
        {"ten_characters", "Kestrel 10"},
        {"hebrew_and_digits", "\u05E9\u05DC\u05D5\u05DD 2026"},
        {"marks_on_one_base", "e" + repeated_to("\u0301", 32000)},
        {"marks_spread", repeated_to("e\u0301\u0308a\u0323", MEGABYTE)},
        {"default_ignorables",
         repeated_to("\u200B\u200D\u200C\u2060\uFEFF\uFE0F\u00AD\U000E0041", MEGABYTE)},
        {"distinct_ideographs", distinct_ideographs(MEGABYTE)},
        {"cjk", repeated_to("\u6771\u4EAC\u90FD\u6E0B\u8C37\u533A", MEGABYTE)},
        {"arabic", repeated_to("\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639"
                               "\u0627\u0644\u0645 ",
                               MEGABYTE)},
        {"mixed_bidi",
         repeated_to("abc \u05E9\u05DC\u05D5\u05DD 123 \u0645\u0631\u062D\u0628\u0627 ", MEGABYTE)},
        {"latin", repeated_to("Kestrel Harbour Control ", MEGABYTE)},
        {"one_word", repeated_to("x", MEGABYTE)},
        {"hard_lines", repeated_to("a\n", MEGABYTE)},
        {"open_isolates", repeated_to("\u2067a", MEGABYTE)},
        {"open_override", "\u202E" + repeated_to("abc ", MEGABYTE)},
    };
    return cases;
}

// Each label at each size and in each font, held against ten_characters in the same font at
// the same size.
void BM_PaintFaceLabel(benchmark::State& state)
{
    const LabelCase& label = labels().at(static_cast<std::size_t>(state.range(1)));
    const kd::Font* font = label_font(state.range(2));
    if (font == nullptr) {
        state.SkipWithError("fonts-wqy-microhei is not installed");
        return;
    }
    state.SetLabel(label.name);
    kd::Settings settings;
    settings.label = label.text;
    paint(state, settings, *font);
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
BENCHMARK(BM_PaintFaceLabel)
    ->ArgsProduct({{96, 128, 256, 512, 1024},
                   benchmark::CreateDenseRange(0, static_cast<int>(labels().size()) - 1, 1),
                   {0, 1, 2}})
    ->ArgNames({"size", "label", "font"})
    ->Unit(benchmark::kMicrosecond);

} // namespace
