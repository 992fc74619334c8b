#include "support/xvfb.hpp"

#include "support/x_client.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>

extern char** environ;

namespace kd::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto START_DEADLINE = std::chrono::seconds(20);
constexpr std::chrono::milliseconds STOP_GRACE{3000};

std::string errno_text(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// The current environment with `overrides` (NAME=value) put in place of their variables.
std::vector<std::string> environment_with(const std::vector<std::string>& overrides)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view variable = *entry;
        const auto name = variable.substr(0, variable.find('=') + 1);
        bool replaced = false;
        for (const auto& override_entry : overrides)
            replaced = replaced || override_entry.starts_with(name);
        if (!replaced) result.emplace_back(variable);
    }
    result.insert(result.end(), overrides.begin(), overrides.end());
    return result;
}

std::vector<char*> c_strings(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// fork + execve with stdout and stderr going to `log_path`; `keep_fd` stays open in the
// child. The child dies with the test process, so a crashed test leaves no server behind.
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> environment,
            const std::string& log_path, int keep_fd = -1)
{
    const std::vector<char*> arg_pointers = c_strings(argv);
    const std::vector<char*> env_pointers = c_strings(environment);
    const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (log_fd == -1) throw std::runtime_error(errno_text("cannot open log file"));
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(null_fd, STDIN_FILENO);
        dup2(log_fd, STDOUT_FILENO);
        dup2(log_fd, STDERR_FILENO);
        if (keep_fd != -1) fcntl(keep_fd, F_SETFD, 0);
        setpgid(0, 0);
        execve(arg_pointers[0], arg_pointers.data(), env_pointers.data());
        _exit(127);
    }
    const int fork_errno = errno;
    close(log_fd);
    close(null_fd);
    if (pid == -1) {
        errno = fork_errno;
        throw std::runtime_error(errno_text("fork failed"));
    }
    return pid;
}

// SIGTERM, a grace period, then SIGKILL; always reaps the process.
void stop(pid_t pid, std::chrono::milliseconds grace = STOP_GRACE)
{
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + grace;
    while (Clock::now() < deadline) {
        const pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done == -1 && errno != EINTR)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) == -1 && errno == EINTR) {
    }
}

bool has_exited(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) == pid;
}

std::string find_program(const std::string& name)
{
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const std::string path = std::string(dir) + "/" + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    throw std::runtime_error(name + " is not installed");
}

} // namespace

Cookie random_cookie()
{
    Cookie cookie{};
    std::random_device random;
    for (auto& byte : cookie)
        byte = static_cast<std::uint8_t>(random());
    return cookie;
}

void write_xauthority(const std::string& path, const Cookie& cookie)
{
    // Each field is a 16-bit big-endian length and its bytes. The family FamilyWild (0xffff)
    // with no address and no display number matches every display of every host.
    const auto field = [](std::string& out, std::string_view bytes) {
        out += static_cast<char>(bytes.size() >> 8);
        out += static_cast<char>(bytes.size() & 0xff);
        out += bytes;
    };
    std::string entry = "\xff\xff";
    field(entry, "");
    field(entry, "");
    field(entry, "MIT-MAGIC-COOKIE-1");
    field(entry, std::string_view(reinterpret_cast<const char*>(cookie.data()), cookie.size()));
    write_file(path, entry);
}

XvfbServer::XvfbServer(const std::string& screen, const std::vector<std::string>& extra_args,
                       const XvfbAccess& access)
{
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) == -1) throw std::runtime_error(errno_text("pipe2 failed"));
    const int read_end = pipe_fds[0];
    const int write_end = pipe_fds[1];

    std::vector<std::string> argv{find_program("Xvfb"),
                                  "-displayfd",
                                  std::to_string(write_end),
                                  access.tcp ? "-listen" : "-nolisten",
                                  "tcp",
                                  "-noreset",
                                  "-screen",
                                  "0",
                                  screen};
    if (!access.auth_file.empty()) argv.insert(argv.end(), {"-auth", access.auth_file});
    argv.insert(argv.end(), extra_args.begin(), extra_args.end());
    const std::string log_path = log_dir_.file("xvfb.log");
    try {
        pid_ = spawn(argv, environment_with({}), log_path, write_end);
    } catch (...) {
        close(read_end);
        close(write_end);
        throw;
    }
    close(write_end);

    // Xvfb writes the display number and a line feed once it accepts connections.
    std::string number;
    const auto deadline = Clock::now() + START_DEADLINE;
    bool complete = false;
    while (!complete && Clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{read_end, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left.count()) + 1);
        if (ready == -1 && errno == EINTR) continue;
        if (ready <= 0) break;
        char chunk[32];
        const ssize_t got = read(read_end, chunk, sizeof chunk);
        if (got == -1 && errno == EINTR) continue;
        if (got <= 0) break; // the server closed the pipe: it has died
        number.append(chunk, static_cast<std::size_t>(got));
        complete = number.find('\n') != std::string::npos;
    }
    close(read_end);
    if (!complete) {
        stop(pid_);
        pid_ = -1;
        throw std::runtime_error("Xvfb did not start: " + read_file(log_path));
    }
    display_ = ":" + number.substr(0, number.find('\n'));
}

XvfbServer::~XvfbServer()
{
    stop(pid_);
}

void XvfbServer::kill_now()
{
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) == -1 && errno == EINTR) {
    }
    pid_ = -1;
}

namespace {

// Whether a window manager has taken the root over (the SubstructureRedirect that only one
// client can hold) and handles map requests: openbox, for one, drops those that reach it in
// the first tens of milliseconds after taking the root. Each call maps a new probe window,
// as a request may be lost, and sees whether the manager gives it a WM_STATE.
bool manages_a_window(const XConnection& observer)
{
    xcb_connection_t* connection = observer.get();
    const xcb_window_t root = observer.root();
    const auto attributes = get_window_attributes(connection, root);
    if (!attributes || (attributes->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT) == 0)
        return false;
    const xcb_window_t probe = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, probe, root, 0, 0, 16, 16, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_map_window(connection, probe);
    const bool managed = wait_until(
        [&] {
            return get_property(connection, probe, intern_atom(connection, "WM_STATE")).has_value();
        },
        std::chrono::milliseconds(100));
    destroy_window(connection, probe);
    return managed;
}

} // namespace

WindowManagerSession::WindowManagerSession(
    const XvfbServer& server, const std::string& program,
    const std::vector<std::pair<std::string, std::string>>& home_files)
{
    for (const auto& [name, content] : home_files)
        write_file(home_.file(name), content);
    pid_ = spawn({find_program(program)},
                 environment_with({"DISPLAY=" + server.display(), "HOME=" + home_.path}),
                 home_.file("wm.log"));
    XConnection observer(server.display());
    if (!wait_until([&] { return !running() || manages_a_window(observer); }, START_DEADLINE) ||
        !running()) {
        stop(pid_);
        pid_ = -1;
        throw std::runtime_error(program + " did not start managing windows: " + log());
    }
}

// Window managers can linger for seconds on SIGTERM once a docked client has gone; they keep
// nothing worth a clean exit, so they are not given long.
WindowManagerSession::~WindowManagerSession()
{
    stop(pid_, std::chrono::milliseconds(200));
}

bool WindowManagerSession::running()
{
    if (pid_ > 0 && has_exited(pid_)) pid_ = -1;
    return pid_ > 0;
}

std::string WindowManagerSession::log() const
{
    return read_file(home_.file("wm.log"));
}

FluxboxSession::FluxboxSession(const XvfbServer& server) : session_(server, "fluxbox")
{
    XConnection observer(server.display());
    std::optional<xcb_window_t> slit;
    const bool found = wait_until(
        [&] {
            slit = find_fluxbox_slit(observer.get());
            return slit.has_value() || !session_.running();
        },
        START_DEADLINE);
    if (!found || !slit) throw std::runtime_error("fluxbox made no slit: " + session_.log());
    slit_window_ = *slit;
}

} // namespace kd::test
