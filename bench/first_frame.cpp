// How long the clock takes from exec to its first painted frame on the display in DISPLAY.
//
//   kd_first_frame RUNS PROGRAM [ARGUMENTS...]
//
// Each run forks, execs PROGRAM, then polls the display for the window named "kestrelDial"
// and reads its top-left pixel until it shows the bevel's outermost top-left colour
// (30, 30, 30). The child is then ended and its window awaited gone before the next run, so
// no run can see the previous run's frame. Prints one line per run and the median.
#include "bench_x.hpp"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

constexpr std::uint32_t BEVEL_TOP_LEFT = (30u << 16) | (30u << 8) | 30u;
constexpr auto RUN_DEADLINE = 20s;

using kd::bench::Disconnect;
using kd::bench::find_named_window;
using kd::bench::Reply;

// The pixel at (0, 0) as 0xRRGGBB; nothing while the window is not viewable (BadMatch).
std::optional<std::uint32_t> top_left_pixel(xcb_connection_t* connection, xcb_window_t window,
                                            bool lsb_first)
{
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        connection, xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, 1, 1, ~0u),
        &error));
    std::free(error);
    if (!image || xcb_get_image_data_length(image.get()) < 4) return std::nullopt;
    const std::uint8_t* bytes = xcb_get_image_data(image.get());
    const std::uint32_t value =
        lsb_first ? (std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                     std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24)
                  : (std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                     std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]});
    return value & 0xffffffu;
}

pid_t start_program(const std::vector<char*>& argv)
{
    const pid_t pid = fork();
    if (pid == 0) {
        // A timer that is killed must not leave its clock behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The clock's status lines would only clutter the report.
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void stop_program(pid_t pid)
{
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

bool exited(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

// One run: milliseconds from fork to the first frame, or nothing when it never came.
std::optional<double> time_first_frame(xcb_connection_t* connection, xcb_window_t root,
                                       bool lsb_first, const std::vector<char*>& argv)
{
    const auto started = Steady::now();
    const pid_t pid = start_program(argv);
    if (pid < 0) {
        std::perror("first_frame: fork");
        return std::nullopt;
    }
    std::optional<double> elapsed_ms;
    while (Steady::now() - started < RUN_DEADLINE) {
        if (exited(pid)) {
            std::fprintf(stderr, "first_frame: %s exited before its first frame\n", argv[0]);
            return std::nullopt;
        }
        if (const auto window = find_named_window(connection, root)) {
            if (top_left_pixel(connection, *window, lsb_first) == BEVEL_TOP_LEFT) {
                elapsed_ms =
                    std::chrono::duration<double, std::milli>(Steady::now() - started).count();
                break;
            }
        }
        // Short enough to resolve a few milliseconds, long enough not to steal the clock's CPU.
        std::this_thread::sleep_for(1ms);
    }
    stop_program(pid);
    // The server drops the window once it notices the closed connection.
    const auto stopped = Steady::now();
    while (find_named_window(connection, root) && Steady::now() - stopped < RUN_DEADLINE)
        std::this_thread::sleep_for(5ms);
    if (!elapsed_ms)
        std::fprintf(stderr, "first_frame: no frame within %lld s\n",
                     static_cast<long long>(RUN_DEADLINE.count()));
    return elapsed_ms;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS PROGRAM [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    if (runs < 1) {
        std::fprintf(stderr, "first_frame: RUNS must be a positive number\n");
        return 2;
    }
    std::vector<char*> program(argv + 2, argv + argc);
    program.push_back(nullptr);

    int screen_number = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(nullptr, &screen_number));
    if (xcb_connection_has_error(connection.get())) {
        std::fprintf(stderr, "first_frame: cannot open the display in DISPLAY\n");
        return 1;
    }
    const xcb_setup_t* setup = xcb_get_setup(connection.get());
    const bool lsb_first = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
    // A clock that was just ended may still have its window until the server notices.
    const auto waiting = Steady::now();
    while (find_named_window(connection.get(), root)) {
        if (Steady::now() - waiting > 5s) {
            std::fprintf(stderr,
                         "first_frame: a window named kestrelDial is already on the display\n");
            return 1;
        }
        std::this_thread::sleep_for(10ms);
    }

    std::vector<double> times;
    for (int run = 1; run <= runs; ++run) {
        const auto elapsed = time_first_frame(connection.get(), root, lsb_first, program);
        if (!elapsed) return 1;
        std::printf("run %d: %.1f ms\n", run, *elapsed);
        times.push_back(*elapsed);
    }
    std::sort(times.begin(), times.end());
    const std::size_t middle = times.size() / 2;
    const double median =
        times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
    std::printf("median: %.1f ms\n", median);
    return 0;
}
