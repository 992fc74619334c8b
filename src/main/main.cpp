#include "main/entry.hpp"
#include "main/line_writer.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

// Started with a standard descriptor closed ("2>&-" in a start-up script), the next file
// opened would take its number: the X socket would become standard error and every status
// line would land in the protocol stream. /dev/null takes the empty places first.
void fill_closed_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    fill_closed_standard_descriptors();
    // A broken X connection must surface as an error value, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    kd::Arguments args(argv, argv + argc);
    kd::LineWriter stderr_lines(STDERR_FILENO);
    return kd::run_entry(args, kd::process_environment(), std::cin, stderr_lines);
}
