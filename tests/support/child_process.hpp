#pragma once
// Running the built program (or any other) as a child process from a test: no shell, a
// controlled environment, captured output, and a hard deadline so a hang fails the test
// instead of stalling it.

#include "base/descriptor.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kd::test {

struct RunResult {
    int exit_status = 0;    // the exit code, or minus the signal number that ended the child
    std::string out;        // everything written to standard output
    std::string err;        // everything written to standard error
    bool timed_out = false; // the child was killed at the timeout
};

enum class StdinSource {
    Pipe,    // stdin_text, then end of input
    DevNull, // /dev/null (stdin_text is ignored)
};

// Runs argv (argv[0] is a path, or a name looked up along the PATH given in env) with exactly
// the variables in env ("NAME=value"), feeds stdin_text on standard input, and waits for the
// exit. At the timeout the child's process group is killed with SIGKILL and timed_out is set.
// Output that a detached grandchild keeps writing after the child's exit is not waited for.
RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& stdin_text, std::chrono::milliseconds timeout,
                      StdinSource stdin_source = StdinSource::Pipe);

// A pipe (or a socket pair) to be a child's standard error, read by the test at its own pace.
// Both ends close on exec; the writing end blocks, as a shell leaves it.
struct ErrorChannel {
    explicit ErrorChannel(bool socket = false);
    // Fills it, as a reader that has stopped reading leaves it.
    void stall() const;
    // What has arrived and not been taken yet; never waits.
    std::string take() const;

    Descriptor reader;
    Descriptor writer;
};

// What a test may change in how a RunningProgram starts.
struct ChildSetup {
    // A descriptor of the test's to be the child's standard error instead of the capture file.
    int stderr_fd = -1;
    // A limit on the child's address space (RLIMIT_AS), set before exec.
    std::optional<std::uint64_t> address_space_bytes;
};

// A child that runs on while the test talks to it (clock mode). Standard input is /dev/null;
// standard output and standard error go to files that the test can read at any time. The
// child leads its own process group. The destructor kills the group and reaps the child if
// it is still running.
class RunningProgram {
  public:
    RunningProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const ChildSetup& setup = {});
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram();

    pid_t pid() const { return pid_; }

    // Everything written to standard error / standard output so far.
    std::string stderr_text() const;
    std::string stdout_text() const;
    // How often standard error has said `needle` so far.
    std::size_t stderr_count(std::string_view needle) const;

    // Waits until standard error contains needle (from the child or from a grandchild it
    // detached); false when the timeout passes first.
    bool wait_for_stderr(std::string_view needle, std::chrono::milliseconds timeout);

    // Waits until the child has a handler of its own for the signal (its SigCgt in
    // /proc/PID/status); false when the timeout passes or the child ends first. A status line
    // can come before the handler it speaks of, and a signal sent in between kills.
    bool wait_until_catching(int signal_number, std::chrono::milliseconds timeout);

    // Sends a signal to the child (not to its group).
    void send_signal(int signal_number);

    // Waits for the child to end; gives its exit code or minus the signal number, or -1000
    // when it is still running at the timeout (it is then left running).
    int wait_exit(std::chrono::milliseconds timeout);

    // True until the exit has been collected by wait_exit, wait_for_stderr or running().
    bool running();

  private:
    bool reap(bool block);

    pid_t pid_ = -1;
    bool exited_ = false;
    int exit_status_ = 0;
    std::string stdout_path_;
    std::string stderr_path_;
};

inline constexpr int STILL_RUNNING = -1000;

} // namespace kd::test
