#pragma once
// The program from argument list to exit status.

#include "base/arguments.hpp"
#include "base/environment.hpp"

#include <istream>
#include <ostream>

namespace kd {

// Everything the program says goes to err; nothing is written to standard output.
int run_entry(const Arguments& args, const Environment& env, std::istream& in, std::ostream& err);

} // namespace kd
