// How long a left click takes to start its command, as a user's click would, on the display in
// DISPLAY.
//
//   kd_click_latency PRESSES FIFO
//
// The clock must be running there with a left_click command that writes to FIFO (for example
// "echo x > FIFO"): the shell's first instruction is then the write, and its arrival here ends
// the measurement. Each press goes out through XTEST at a random phase of the wall-clock second,
// since a clock that serves events only when it wakes answers fast or slow depending on where in
// its sleep the press falls. Prints one line per press, then the median and the maximum.
#include "base/descriptor.hpp"
#include "bench_x.hpp"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

constexpr auto COMMAND_DEADLINE = 5s;

using kd::bench::Disconnect;
using kd::bench::find_named_window;
using kd::bench::Reply;

// A round trip: the server has handled every request sent before. XTEST input still queued
// when the connection closes can be lost, leaving a button held down for good.
void sync(xcb_connection_t* connection)
{
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

void drain(int fd)
{
    char bytes[256];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
}

// The middle of the window in root coordinates.
std::optional<std::pair<std::int16_t, std::int16_t>>
window_centre(xcb_connection_t* connection, xcb_window_t window, xcb_window_t root)
{
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
    if (!geometry) return std::nullopt;
    Reply<xcb_translate_coordinates_reply_t> translated(xcb_translate_coordinates_reply(
        connection,
        xcb_translate_coordinates(connection, window, root,
                                  static_cast<std::int16_t>(geometry->width / 2),
                                  static_cast<std::int16_t>(geometry->height / 2)),
        nullptr));
    if (!translated) return std::nullopt;
    return std::pair{translated->dst_x, translated->dst_y};
}

// Sleeps until the given fraction of the next wall-clock second.
void sleep_to_phase(double phase)
{
    const auto now = Wall::now();
    const auto second = std::chrono::floor<std::chrono::seconds>(now) + 1s;
    std::this_thread::sleep_until(
        second + std::chrono::duration_cast<Wall::duration>(std::chrono::duration<double>(phase)));
}

// Milliseconds from the press to the command's write, or nothing when it did not come.
std::optional<double> one_press(xcb_connection_t* connection, xcb_window_t root, int fifo)
{
    drain(fifo);
    const auto pressed = Steady::now();
    xcb_test_fake_input(connection, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, root, 0, 0, 0);
    xcb_flush(connection);
    pollfd readable{fifo, POLLIN, 0};
    const int ready =
        poll(&readable, 1, static_cast<int>(std::chrono::milliseconds(COMMAND_DEADLINE).count()));
    const auto answered = Steady::now();
    xcb_test_fake_input(connection, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, root, 0, 0, 0);
    sync(connection);
    if (ready != 1) return std::nullopt;
    return std::chrono::duration<double, std::milli>(answered - pressed).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PRESSES FIFO\n", argv[0]);
        return 2;
    }
    const int presses = std::atoi(argv[1]);
    if (presses < 1) {
        std::fprintf(stderr, "click_latency: PRESSES must be a positive number\n");
        return 2;
    }
    // Opened for writing too, so that the FIFO never reports a hang-up between two commands.
    const kd::Descriptor fifo(open(argv[2], O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (fifo.fd < 0) {
        std::perror("click_latency: open FIFO");
        return 1;
    }

    int screen_number = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(nullptr, &screen_number));
    if (xcb_connection_has_error(connection.get())) {
        std::fprintf(stderr, "click_latency: cannot open the display in DISPLAY\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data->root;
    const auto window = find_named_window(connection.get(), root);
    if (!window) {
        std::fprintf(stderr, "click_latency: no window named kestrelDial on the display\n");
        return 1;
    }
    const auto centre = window_centre(connection.get(), *window, root);
    if (!centre) {
        std::fprintf(stderr, "click_latency: cannot place the pointer on the clock\n");
        return 1;
    }
    xcb_test_fake_input(connection.get(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root,
                        centre->first, centre->second, 0);
    sync(connection.get());

    std::mt19937 random(std::random_device{}());
    std::uniform_real_distribution<double> phase_of(0.0, 1.0);
    std::vector<double> times;
    for (int press = 1; press <= presses; ++press) {
        const double phase = phase_of(random);
        sleep_to_phase(phase);
        const auto latency = one_press(connection.get(), root, fifo.fd);
        if (!latency) {
            std::fprintf(stderr, "click_latency: press %d started no command within %lld s\n",
                         press, static_cast<long long>(COMMAND_DEADLINE.count()));
            return 1;
        }
        std::printf("press %d at .%03d s: %.2f ms\n", press, static_cast<int>(phase * 1000),
                    *latency);
        times.push_back(*latency);
    }
    std::sort(times.begin(), times.end());
    const std::size_t middle = times.size() / 2;
    const double median =
        times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
    std::printf("median: %.2f ms\nmax: %.2f ms\n", median, times.back());
    return 0;
}
