#pragma once
// Which font file the run uses: the configured path, else fc-match's answer, else the first
// of the usual places that holds a font that parses.

#include "base/environment.hpp"
#include "base/error.hpp"
#include "face/font.hpp"

#include <array>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kd {

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

// Runs `fc-match --format %{file} monospace` through PATH, no shell, stdin empty. Gives the
// trimmed output, malformed UTF-8 replaced, when it exits 0 with a non-empty one.
std::optional<std::string> fc_match_monospace(const Environment& env);

// Where discovery looks; tests replace the candidates.
struct FontSources {
    std::function<std::optional<std::string>()> font_matcher;
    std::vector<std::string> candidates;
};

// The real sources: fc-match through env's PATH and FALLBACK_FONTS.
FontSources system_font_sources(const Environment& env);

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
std::expected<FoundFont, Error>
find_font(const std::optional<std::string>& configured, const FontSources& sources,
          const std::function<void(const std::string&)>& chosen = {});

} // namespace kd
