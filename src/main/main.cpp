#include "main/entry.hpp"

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    // A broken X connection must surface as an error value, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    kd::Arguments args(argv, argv + argc);
    return kd::run_entry(args, kd::process_environment(), std::cin, std::cerr);
}
