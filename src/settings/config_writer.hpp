#pragma once
// The annotated config file: its text, and storing it without leaving a half-written file
// wherever a temporary file beside it can be made.

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

// Creates missing parent directories, then replaces the file at path with the rendered text.
// It fails where a plain write would (a path ending in "/", a file the user may not write),
// and writes the file itself where no temporary file can be made beside it. Errors name the
// path: "cannot write PATH: Permission denied (os error 13)".
std::expected<void, Error> write_config(const std::string& path, const Settings& settings);

// As write_config, but the text is put only where no file is: a file that is there, or that
// appears while the text is being written (an editor saving), is left alone and the result
// is false.
std::expected<bool, Error> write_new_config(const std::string& path, const Settings& settings);

} // namespace kd
