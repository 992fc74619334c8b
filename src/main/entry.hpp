#pragma once
// The program from argument list to exit status.

#include "base/arguments.hpp"
#include "base/environment.hpp"
#include "main/line_writer.hpp"

#include <istream>

namespace kd {

// Everything the program says goes to standard error through `lines`; nothing is written to
// standard output.
int run_entry(const Arguments& args, const Environment& env, std::istream& in, LineWriter& lines);

} // namespace kd
