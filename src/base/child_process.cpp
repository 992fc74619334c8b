#include "base/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace kd {

namespace {

// What execvp searches when PATH is unset.
constexpr std::string_view DEFAULT_SEARCH_PATH = "/bin:/usr/bin";

bool is_executable_file(const std::string& path)
{
    struct stat metadata{};
    return ::stat(path.c_str(), &metadata) == 0 && S_ISREG(metadata.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The first executable `name` along the search path; an empty entry is the current directory.
std::optional<std::string> find_in_path(std::string_view name, std::string_view search_path)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = search_path.find(':', start);
        const std::string_view dir = search_path.substr(
            start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
        std::string candidate(dir.empty() ? std::string_view(".") : dir);
        candidate += '/';
        candidate += name;
        if (is_executable_file(candidate)) return candidate;
        if (colon == std::string_view::npos) return std::nullopt;
        start = colon + 1;
    }
}

// The file actions and attributes of one posix_spawn, released on every path out.
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

using Deadline = std::chrono::steady_clock::time_point;

// Reads the child's output until it closes it. A child that talks too much or takes too long
// is killed.
std::optional<std::string> collect_output(int fd, pid_t child, std::size_t limit, Deadline deadline)
{
    std::string output;
    char chunk[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return output;
        if (output.size() + static_cast<std::size_t>(got) > limit) break;
        output.append(chunk, static_cast<std::size_t>(got));
    }
    ::kill(child, SIGKILL);
    return std::nullopt;
}

// The child's wait status, or -1. A child still running at the deadline is killed first, so a
// child that closed its output but never ends cannot hold the caller up either.
int wait_for_child(pid_t child, Deadline deadline)
{
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) return status;
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= deadline) break;
        ::usleep(2000);
    }
    ::kill(child, SIGKILL);
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

} // namespace

std::optional<Child> spawn_child(const std::vector<std::string>& argv, const ChildOptions& options)
{
    if (argv.empty()) return std::nullopt;
    const std::optional<std::string> program =
        find_in_path(argv.front(), options.search_path ? std::string_view(*options.search_path)
                                                       : DEFAULT_SEARCH_PATH);
    if (!program) return std::nullopt;

    Descriptor read_end;
    Descriptor write_end; // the child's copy is its standard output; ours closes on return
    if (options.capture_output) {
        int pipe_ends[2];
        if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return std::nullopt;
        read_end.fd = pipe_ends[0];
        write_end.fd = pipe_ends[1];
    }

    SpawnSetup setup;
    if (!setup.ready) return std::nullopt;
    if (options.capture_output) {
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&setup.actions, write_end.fd, STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    if (options.close_inherited) posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    if (options.default_hangup) sigaddset(&defaults, SIGHUP);
    sigset_t no_mask;
    sigemptyset(&no_mask);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setsigmask(&setup.attributes, &no_mask);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> texts = argv; // posix_spawn wants writable strings
    std::vector<char*> arguments;
    arguments.reserve(texts.size() + 1);
    for (std::string& text : texts)
        arguments.push_back(text.data());
    arguments.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program->c_str(), &setup.actions, &setup.attributes, arguments.data(),
                    environ) != 0)
        return std::nullopt;
    return Child{pid, std::move(read_end)};
}

std::optional<std::string> captured_output(const std::vector<std::string>& argv,
                                           const std::optional<std::string>& search_path,
                                           std::size_t limit, std::chrono::milliseconds timeout)
{
    std::optional<Child> child =
        spawn_child(argv, ChildOptions{.search_path = search_path, .capture_output = true});
    if (!child) return std::nullopt;

    const Deadline deadline = std::chrono::steady_clock::now() + timeout;
    std::optional<std::string> output =
        collect_output(child->output.fd, child->pid, limit, deadline);
    child->output.reset();
    const int status = wait_for_child(child->pid, deadline);
    if (!output || status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

} // namespace kd
