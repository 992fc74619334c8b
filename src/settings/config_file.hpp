#pragma once
// Where the config file lives, how it reads, and the command line laid over it.

#include "base/arguments.hpp"
#include "base/environment.hpp"
#include "base/error.hpp"
#include "settings/settings.hpp"

#include <cstddef>
#include <expected>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace kd {

// Larger files are not configuration files; reading them is refused.
inline constexpr std::size_t MAX_CONFIG_FILE_SIZE = std::size_t{1024} * 1024;

// The path after the first --config unless it is empty, else
// $XDG_CONFIG_HOME/kestrelDial/config, else $HOME/.config/kestrelDial/config.
std::optional<std::string> config_path(const Arguments& args, const Environment& env);

// The whole file as text, or why not: missing, not a regular file, too large, unreadable or
// not UTF-8. Never blocks on a FIFO.
std::expected<std::string, Error> read_config_text(const std::string& path);

// Defaults with the lines of a config file's text applied (themes included).
Settings settings_from_text(std::string_view text);

// Defaults, then the config file found by config_path.
Settings load_settings(const Arguments& args, const Environment& env);

// Lays the command line over settings; a bad --timezone is reported on err.
void apply_command_line(Settings& settings, const Arguments& args, std::ostream& err);

} // namespace kd
