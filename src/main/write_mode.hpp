#pragma once
// --write-config [PATH] and --configure: build the settings, maybe ask, write, exit.

#include "base/arguments.hpp"
#include "base/environment.hpp"
#include "base/error.hpp"
#include "settings/settings.hpp"

#include <expected>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace kd {

// Finds the automatic font for the dialogue's hint, or nothing.
using FontDetector = std::function<std::optional<std::string>()>;

// Writes the prompt on err and reads one trimmed line from in; end of input gives "".
std::string prompt_line(std::string_view prompt, std::istream& in, std::ostream& err);

// "y", "Y", "yes" or "YES".
bool is_yes(std::string_view answer);

// The interactive dialogue; gives the edited settings.
Settings run_configure(Settings settings, std::istream& in, std::ostream& err,
                       const FontDetector& detect_font);

// The whole write mode. Gives the exit status, or an error for the error line.
std::expected<int, Error> run_write_mode(const Arguments& args, const Environment& env,
                                         std::istream& in, std::ostream& err,
                                         const FontDetector& detect_font);

} // namespace kd
