#include "main/entry.hpp"
#include "main/line_writer.hpp"

#include <csignal>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv)
{
    // A broken X connection must surface as an error value, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    kd::Arguments args(argv, argv + argc);
    kd::LineWriter stderr_lines(STDERR_FILENO);
    std::ostream err(&stderr_lines);
    return kd::run_entry(args, kd::process_environment(), std::cin, err);
}
