#pragma once
// The options the program knows and the few questions its readers ask of the argument list.
// Each reader asks for itself, as its own rule says: the rules differ on purpose.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kd {

// The process's arguments as given, the program name first; never changed while it runs.
using Arguments = std::vector<std::string>;

struct Option {
    std::string_view name;
    std::string_view value_name;  // as the help text shows it; empty for an option without value
    std::string_view description; // the help text's words; a line feed goes on at the same column
};

// In the order of the help text.
inline constexpr std::array<Option, 16> OPTIONS = {{
    {"--12h", "", "Use 12-hour time format (default: 24-hour)"},
    {"--seconds", "", "Show seconds in time display"},
    {"--short-month", "", "Show abbreviated month name (default: full name)"},
    {"--timezone", "OFFSET", "Fixed UTC offset, e.g. +4, -5, +5:30 (default: local)"},
    {"--label", "TEXT", "Custom indicator beside the time (overrides timezone)"},
    {"--size", "SIZE", "Window size in pixels, 96-1024 (default 96)"},
    {"--font", "PATH", "Path to a TTF/OTF font file"},
    {"--theme", "THEME", "Color theme (e.g. zenburn)"},
    {"--background", "", "Run in background"},
    {"--verbose", "", "Show extra informational messages"},
    {"--quiet", "", "Suppress all non-error output"},
    {"--write-config", "[PATH]", "Write annotated config file and exit"},
    {"--configure", "", "Interactive configuration wizard"},
    {"--config", "PATH", "Load config from PATH (default:\n$XDG_CONFIG_HOME/kestrelDial/config)"},
    {"--dock", "N", "Open in slit N under Halcyon (ignored elsewhere)"},
    {"--help", "", "Show this help message"},
}};

// The list without the program name, for the readers that never take it for an option.
std::span<const std::string> after_program_name(const Arguments& args);

// Whether an argument is exactly name, wherever it stands (a value's place included).
bool has_argument(std::span<const std::string> args, std::string_view name);

// The argument after the first one that is exactly name; nothing when there is none, or when
// that first one is the last argument. A later occurrence is never looked at.
std::optional<std::string_view> value_after_first(std::span<const std::string> args,
                                                  std::string_view name);

// The argument after each one that is exactly name, in order; a value is itself looked at.
std::vector<std::string_view> values_after_each(std::span<const std::string> args,
                                                std::string_view name);

// The first argument that begins with "--" and is no name of OPTIONS. The argument after an
// option that takes a value is that option's value, whatever it looks like, and is passed over.
std::optional<std::string_view> first_unknown_option(std::span<const std::string> args);

} // namespace kd
