#include "main/process.hpp"

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

namespace {

// RAII for the spawn attribute objects.
struct SpawnSetup {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    bool ready = false;

    SpawnSetup()
    {
        if (posix_spawn_file_actions_init(&actions) != 0) return;
        if (posix_spawnattr_init(&attributes) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return;
        }
        ready = true;
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup()
    {
        if (!ready) return;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
};

} // namespace

void run_click_command(const std::optional<std::string>& command)
{
    if (!command || command->empty()) return;
    SpawnSetup setup;
    if (!setup.ready) return;

    // A long-running command must not hold the X connection (or anything else of ours) open
    // after the clock has gone.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGHUP);
    sigset_t no_mask;
    sigemptyset(&no_mask);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setsigmask(&setup.attributes, &no_mask);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    char sh[] = "sh";
    char dash_c[] = "-c";
    std::string text = *command;
    char* argv[] = {sh, dash_c, text.data(), nullptr};
    pid_t pid = 0;
    posix_spawnp(&pid, "sh", &setup.actions, &setup.attributes, argv, environ);
}

void reap_finished_children()
{
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

} // namespace kd
