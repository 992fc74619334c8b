#pragma once
// Value syntaxes shared by the config file, the command line, the writer and the dialogue:
// colours, themes, UTC offsets and sizes.

#include "settings/settings.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace kd {

inline constexpr Rgb ZENBURN_COLOR{220, 193, 153};
inline constexpr Rgb ZENBURN_DIM_COLOR{180, 158, 125};
inline constexpr std::int32_t MAX_UTC_OFFSET = 64800;

// Unicode white space at both ends removed.
std::string_view trim(std::string_view text);
// Equal once ASCII letters are folded to one case; other bytes must match exactly.
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);

// "R, G, B" with each piece 0..255, one optional leading '+'.
std::optional<Rgb> parse_color(std::string_view text);
// "220, 193, 153".
std::string format_color(Rgb color);

// True for "zenburn" in any ASCII letter case.
bool is_zenburn(std::string_view theme);
// Gives the theme's colours to each colour that was not set explicitly.
void apply_theme(Settings& settings, bool color_set, bool dim_color_set);

std::optional<std::int32_t> parse_utc_offset(std::string_view text);
// "(+4)", "(-9:30)", "(+0)".
std::string offset_indicator(std::int32_t offset);
// The indicator without its parentheses, as the writer and the dialogue show it: "+5:30".
std::string offset_text(std::int32_t offset);
// The label (wrapped in parentheses unless it already is), else the offset indicator. Of the
// label's text inside the parentheses, at most `most_label_characters` characters are kept.
std::optional<std::string>
face_indicator(const Settings& settings,
               std::size_t most_label_characters = std::numeric_limits<std::size_t>::max());

// Unsigned decimal with one optional leading '+', fitting 64 bits; nothing else allowed.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);
// parse_unsigned, kept only within 96..1024.
std::optional<std::uint64_t> parse_size(std::string_view text);

} // namespace kd
