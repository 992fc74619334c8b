#pragma once
// The annotated config file: its text, and storing it without ever leaving a half-written file.

#include "settings/error.hpp"
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

// Creates missing parent directories, then replaces the file at path with the rendered text.
// A value holding a line break is refused (it would become an extra line of the file).
std::expected<void, Error> write_config(const std::string& path, const Settings& settings);

} // namespace kd
