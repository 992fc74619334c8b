#include "main/process.hpp"

#include "base/child_process.hpp"

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

namespace kd {

std::optional<int> detach(const Settings& settings, std::ostream& err)
{
    err.flush(); // or both processes would write what is still buffered
    const pid_t pid = fork();
    if (pid < 0) {
        err << "kestrelDial: fork failed\n";
        return 1;
    }
    if (pid > 0) {
        if (!settings.quiet) err << "kestrelDial: backgrounded (pid " << pid << ")\n";
        return 0;
    }
    setsid(); // leaving the terminal's session is best effort
    return std::nullopt;
}

void run_click_command(const std::optional<std::string>& command, const Environment& env,
                       StartedCommands& started)
{
    if (!command || command->empty()) return;
    // A long-running command must not hold the X connection (or anything else of ours) open
    // after the clock has gone.
    if (spawn_child({"sh", "-c", *command}, ChildOptions{.search_path = env.get("PATH"),
                                                         .close_inherited = true,
                                                         .default_hangup = true}))
        ++started.outstanding;
}

void reap_finished_children(StartedCommands& started)
{
    while (started.outstanding > 0) {
        const pid_t ended = waitpid(-1, nullptr, WNOHANG);
        if (ended > 0) {
            --started.outstanding;
        } else if (ended == 0) {
            return; // the rest are still running
        } else if (errno != EINTR) {
            started.outstanding = 0; // no child left to wait for
        }
    }
}

} // namespace kd
