#include "support/child_process.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kd::test {

namespace {

using Clock = std::chrono::steady_clock;

int decode_status(int status)
{
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return STILL_RUNNING;
}

// argv[0] as given when it holds a slash, else the first executable of that name along
// the PATH of the child's environment.
std::string find_executable(const std::string& name, const std::vector<std::string>& env)
{
    if (name.find('/') != std::string::npos) return name;
    std::string path = "/usr/bin:/bin";
    for (const std::string& entry : env)
        if (entry.starts_with("PATH=")) path = entry.substr(5);
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string directory = end == start ? "." : path.substr(start, end - start);
        const std::string candidate = directory + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return name;
}

std::vector<char*> c_strings(const std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (const std::string& text : texts)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// Everything the child needs is prepared before fork; after it only async-signal-safe calls.
struct ExecPlan {
    std::string executable;
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::optional<std::uint64_t> address_space_bytes;
};

[[noreturn]] void exec_child(const ExecPlan& plan, int stdin_fd, int stdout_fd, int stderr_fd)
{
    ::setpgid(0, 0);
    if (plan.address_space_bytes) {
        const auto bytes = static_cast<rlim_t>(*plan.address_space_bytes);
        const rlimit limit{bytes, bytes};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    if (::dup2(stdin_fd, 0) < 0 || ::dup2(stdout_fd, 1) < 0 || ::dup2(stderr_fd, 2) < 0)
        ::_exit(127);
    ::execve(plan.executable.c_str(), plan.argv.data(), plan.envp.data());
    ::_exit(127);
}

ExecPlan make_plan(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    if (argv.empty()) throw std::invalid_argument("run_program: empty argv");
    return ExecPlan{find_executable(argv[0], env), c_strings(argv), c_strings(env), std::nullopt};
}

struct Pipe {
    int read_end = -1;
    int write_end = -1;
    Pipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
        read_end = fds[0];
        write_end = fds[1];
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe()
    {
        close_read();
        close_write();
    }
    void close_read()
    {
        if (read_end >= 0) ::close(read_end);
        read_end = -1;
    }
    void close_write()
    {
        if (write_end >= 0) ::close(write_end);
        write_end = -1;
    }
};

// The child may close its standard input before reading it all; that must not kill the test.
struct ScopedIgnoreSigpipe {
    struct sigaction previous{};
    ScopedIgnoreSigpipe()
    {
        struct sigaction ignore{};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &previous);
    }
    ~ScopedIgnoreSigpipe() { ::sigaction(SIGPIPE, &previous, nullptr); }
};

std::string read_whole_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string make_capture_file(const char* stream_name)
{
    std::string pattern = "/tmp/kestrelDial-" + std::string(stream_name) + "-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::close(fd);
    return pattern;
}

} // namespace

RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& stdin_text, std::chrono::milliseconds timeout,
                      StdinSource stdin_source)
{
    const ExecPlan plan = make_plan(argv, env);
    const ScopedIgnoreSigpipe sigpipe_ignored;
    Pipe input;
    Pipe output;
    Pipe errors;
    const int dev_null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0)
        exec_child(plan, stdin_source == StdinSource::Pipe ? input.read_end : dev_null,
                   output.write_end, errors.write_end);
    ::setpgid(pid, pid); // also done by the child; whichever runs first wins the race
    ::close(dev_null);
    input.close_read();
    output.close_write();
    errors.close_write();
    if (stdin_source == StdinSource::DevNull) input.close_write();
    if (input.write_end >= 0) ::fcntl(input.write_end, F_SETFL, O_NONBLOCK);

    RunResult result;
    std::size_t written = 0;
    if (stdin_text.empty()) input.close_write();
    const Clock::time_point deadline = Clock::now() + timeout;
    std::optional<Clock::time_point> drain_until; // set once the child has exited
    bool reaped = false;
    int status = 0;

    while (output.read_end >= 0 || errors.read_end >= 0 || !reaped) {
        const Clock::time_point now = Clock::now();
        if (!reaped && now >= deadline) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            result.timed_out = true;
        }
        if (!reaped && ::waitpid(pid, &status, result.timed_out ? 0 : WNOHANG) == pid) {
            reaped = true;
            // A detached grandchild may hold the pipes open; collect what is there, briefly.
            drain_until = Clock::now() + std::chrono::milliseconds(200);
        }
        if (drain_until && Clock::now() >= *drain_until) break;

        pollfd fds[3];
        nfds_t count = 0;
        const auto watch = [&](int fd, short events) {
            if (fd >= 0) fds[count++] = pollfd{fd, events, 0};
        };
        watch(output.read_end, POLLIN);
        watch(errors.read_end, POLLIN);
        watch(input.write_end, POLLOUT);
        if (count == 0) {
            if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        ::poll(fds, count, 10); // short, so the exit and the deadline are noticed promptly

        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == input.write_end) {
                const ssize_t n = ::write(input.write_end, stdin_text.data() + written,
                                          stdin_text.size() - written);
                if (n > 0) written += static_cast<std::size_t>(n);
                if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == stdin_text.size())
                    input.close_write();
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (fds[i].fd == output.read_end ? result.out : result.err)
                    .append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                if (fds[i].fd == output.read_end)
                    output.close_read();
                else
                    errors.close_read();
            }
        }
    }
    result.exit_status = decode_status(status);
    return result;
}

ErrorChannel::ErrorChannel(bool socket)
{
    int ends[2];
    const int made = socket ? ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends)
                            : ::pipe2(ends, O_CLOEXEC);
    if (made != 0) throw std::runtime_error("cannot make a channel for standard error");
    reader = Descriptor(ends[0]);
    writer = Descriptor(ends[1]);
    ::fcntl(reader.fd, F_SETFL, O_NONBLOCK);
}

void ErrorChannel::stall() const
{
    const std::string block(4096, '.');
    ::fcntl(writer.fd, F_SETFL, O_NONBLOCK);
    while (::write(writer.fd, block.data(), block.size()) > 0) {
    }
    ::fcntl(writer.fd, F_SETFL, 0);
}

std::string ErrorChannel::take() const
{
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = ::read(reader.fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(n));
    return text;
}

RunningProgram::RunningProgram(const std::vector<std::string>& argv,
                               const std::vector<std::string>& env, const ChildSetup& setup)
    : stdout_path_(make_capture_file("stdout")), stderr_path_(make_capture_file("stderr"))
{
    ExecPlan plan = make_plan(argv, env);
    plan.address_space_bytes = setup.address_space_bytes;
    const int dev_null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open(stdout_path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const int err = ::open(stderr_path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (dev_null < 0 || out < 0 || err < 0) throw std::runtime_error("cannot open capture files");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) exec_child(plan, dev_null, out, setup.stderr_fd >= 0 ? setup.stderr_fd : err);
    ::setpgid(pid_, pid_);
    ::close(dev_null);
    ::close(out);
    ::close(err);
}

RunningProgram::~RunningProgram()
{
    if (pid_ > 0 && !exited_) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    ::unlink(stdout_path_.c_str());
    ::unlink(stderr_path_.c_str());
}

std::string RunningProgram::stderr_text() const
{
    return read_whole_file(stderr_path_);
}
std::string RunningProgram::stdout_text() const
{
    return read_whole_file(stdout_path_);
}

std::size_t RunningProgram::stderr_count(std::string_view needle) const
{
    const std::string text = stderr_text();
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

bool RunningProgram::reap(bool block)
{
    if (exited_) return true;
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped != pid_) return false;
    exited_ = true;
    exit_status_ = decode_status(status);
    return true;
}

bool RunningProgram::running()
{
    return !reap(false);
}

bool RunningProgram::wait_for_stderr(std::string_view needle, std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (true) {
        if (stderr_text().find(needle) != std::string::npos) return true;
        // The child's exit does not end the wait: after --background the detached grandchild
        // goes on writing to the same file.
        reap(false);
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

namespace {

bool catches_signal(pid_t pid, int signal_number)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::strtoull(line.c_str() + 7, nullptr, 16) >> (signal_number - 1) & 1) != 0;
    return false;
}

} // namespace

bool RunningProgram::wait_until_catching(int signal_number, std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!reap(false)) {
        if (catches_signal(pid_, signal_number)) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void RunningProgram::send_signal(int signal_number)
{
    if (!exited_) ::kill(pid_, signal_number);
}

int RunningProgram::wait_exit(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!reap(false)) {
        if (Clock::now() >= deadline) return STILL_RUNNING;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exit_status_;
}

} // namespace kd::test
