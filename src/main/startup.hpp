#pragma once
// Clock mode: settings, detaching, font, window, and then the main loop.

#include "base/arguments.hpp"
#include "base/environment.hpp"
#include "base/error.hpp"

#include <expected>
#include <ostream>

namespace kd {

// Returns only when the program ends: the exit status, or the error for the error line.
std::expected<int, Error> run_startup(const Arguments& args, const Environment& env,
                                      std::ostream& err);

} // namespace kd
