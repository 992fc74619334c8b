#pragma once
// Starting other programs: the click commands and the font matcher.

#include "base/descriptor.hpp"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kd {

struct ChildOptions {
    // The value of PATH to look argv[0] up in (an empty entry is the current directory);
    // nothing when PATH is unset, which searches /bin and /usr/bin as execvp does.
    std::optional<std::string> search_path;
    // Standard input from /dev/null, standard output into a pipe (Child::output), standard
    // error to /dev/null. Otherwise the child shares the program's three.
    bool capture_output = false;
    // Closes every descriptor from 3 up in the child, whether marked close-on-exec or not.
    bool close_inherited = false;
    // Gives the child SIGHUP's default action too, for a program started under nohup.
    bool default_hangup = false;
};

// A started child. Move-only: the pipe end is owned.
struct Child {
    pid_t pid = 0;
    Descriptor output; // the read end of its standard output, when captured
};

// Starts argv[0] as found along the search path, with argv, the process's environment, an
// empty signal mask and SIGPIPE at its default action (the program ignores it for itself).
// Nothing when the program is not found or cannot be started. Nobody waits for the child here.
std::optional<Child> spawn_child(const std::vector<std::string>& argv, const ChildOptions& options);

// Runs argv with its output captured and gives that output when the child exits with status
// 0 within `timeout`, having written at most `limit` bytes. A child that writes more or takes
// longer is killed; nothing then, nor for any other end. The child is always waited for.
std::optional<std::string> captured_output(const std::vector<std::string>& argv,
                                           const std::optional<std::string>& search_path,
                                           std::size_t limit, std::chrono::milliseconds timeout);

} // namespace kd
