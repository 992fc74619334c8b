#pragma once
// Finding, reading and parsing the one font of the run.

#include "base/environment.hpp"
#include "base/error.hpp"

#include <array>
#include <functional>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kd {

inline constexpr std::uint64_t MAX_FONT_FILE_SIZE = 10485760;

inline constexpr std::array<std::string_view, 8> FALLBACK_FONTS = {
    "/usr/share/fonts/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/TTF/DejaVuSansMono.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/liberation-mono/LiberationMono-Regular.ttf",
    "/usr/share/fonts/TTF/LiberationMono-Regular.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf",
    "/usr/share/fonts/noto/NotoSansMono-Regular.ttf",
    "/usr/share/fonts/google-noto/NotoSansMono-Regular.ttf",
};

// The whole file, or the reason it could not be read ("No such file or directory (os error
// 2)", "Font file too large (...)", "Not a regular file" for FIFOs and devices, which could
// block or never end). At most MAX_FONT_FILE_SIZE + 1 bytes are ever read.
std::expected<std::vector<std::uint8_t>, std::string> read_font_file(const std::string& path);

// Runs `fc-match --format %{file} monospace` through PATH, no shell, stdin empty. Gives the
// trimmed output when it exits 0 with a non-empty one.
std::optional<std::string> fc_match_monospace(const Environment& env);

// Where discovery looks; tests replace the candidates.
struct FontSources {
    std::function<std::optional<std::string>()> font_matcher;
    std::vector<std::string> candidates;
};

// The real sources: fc-match through env's PATH and FALLBACK_FONTS.
FontSources system_font_sources(const Environment& env);

struct FontData; // FreeType face and HarfBuzz font, owned

// A parsed font. Move-only; owns its bytes and every FreeType/HarfBuzz object.
struct Font {
    std::unique_ptr<FontData> data;
    int units_per_em = 0;
    std::optional<int> ascender; // font units, when the font has horizontal line metrics

    Font();
    Font(Font&&) noexcept;
    Font& operator=(Font&&) noexcept;
    ~Font();
};

// "Failed to parse font: {reason}" on failure.
std::expected<Font, Error> load_font(std::vector<std::uint8_t> bytes);

// The font of the run and the file it came from.
struct FoundFont {
    std::string path;
    Font font;
};

// The configured path, read and parsed; when it fails, nothing else is tried. Otherwise the
// first of fc-match's answer and the candidates that reads and parses. A file that reads but
// does not parse (a bitmap font that fontconfig prefers, a broken file) is passed over like one
// that does not read; when none parses, the first such failure is the error, with a hint to
// --font. `chosen` hears the path as soon as it is settled: a configured one before it is
// parsed, so that it is named even when parsing fails; a discovered one once it has parsed.
std::expected<FoundFont, Error> find_font(const std::optional<std::string>& configured,
                                          const FontSources& sources,
                                          const std::function<void(const std::string&)>& chosen = {});

} // namespace kd
