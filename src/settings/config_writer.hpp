#pragma once
// The annotated config file: its text, whether settings can be written faithfully, and
// storing it.

#include "base/error.hpp"
#include "settings/settings.hpp"

#include <expected>
#include <string>

namespace kd {

// The 54-line annotated text.
std::string render_config(const Settings& settings);

// Refuses settings whose texts cannot be written faithfully: a line break would become an
// extra line of the file (a label could smuggle in a click command), and malformed UTF-8
// would make the whole file unreadable. The error names the key.
std::expected<void, Error> check_writable(const Settings& settings);

// Replaces the file at path with the rendered text, as replace_file does: never a half-written
// file where a temporary file can be made beside it, a failure wherever a plain write would
// fail. Errors name the path: "cannot write PATH: Permission denied (os error 13)".
std::expected<void, Error> write_config(const std::string& path, const Settings& settings);

// As write_config, but the text is put only where no file is (create_file_if_absent): a file
// that is there, or that appears while the text is being written (an editor saving), is left
// alone and the result is false.
std::expected<bool, Error> write_new_config(const std::string& path, const Settings& settings);

} // namespace kd
