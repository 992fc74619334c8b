#pragma once
// Detaching into the background and starting click commands.

#include "base/environment.hpp"
#include "settings/settings.hpp"

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

namespace kd {

// Forks. In the child (after setsid) gives nothing and start-up goes on; in the parent gives
// the exit status to end with: 0 after "backgrounded", 1 when fork failed.
std::optional<int> detach(const Settings& settings, std::ostream& err);

// The click commands started and not yet collected after their end.
struct StartedCommands {
    std::size_t outstanding = 0;
};

// Starts `sh -c command` through env's PATH without waiting, and counts it. The child gets
// only standard input, output and error, and the default SIGPIPE and SIGHUP actions. Failures
// are dropped silently.
void run_click_command(const std::optional<std::string>& command, const Environment& env,
                       StartedCommands& started);

// Collects every click command that has finished, without blocking, so none stays defunct.
// Asks the system only while a command is outstanding.
void reap_finished_children(StartedCommands& started);

} // namespace kd
