#include "main/process.hpp"

#include "base/child_process.hpp"

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

void run_click_command(const std::optional<std::string>& command, const Environment& env)
{
    if (!command || command->empty()) return;
    // A long-running command must not hold the X connection (or anything else of ours) open
    // after the clock has gone.
    spawn_child({"sh", "-c", *command}, ChildOptions{.search_path = env.get("PATH"),
                                                     .close_inherited = true,
                                                     .default_hangup = true});
}

void reap_finished_children()
{
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

} // namespace kd
