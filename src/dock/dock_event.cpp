#include "dock/dock_event.hpp"

#include "dock/dock_connection.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <poll.h>
#include <sys/timerfd.h>

namespace kd {

namespace {

DockEvent classify(const xcb_generic_event_t& event, const DockWindow& window)
{
    using Kind = DockEvent::Kind;
    // The top bit only says that another client sent the event.
    switch (event.response_type & ~0x80) {
    case XCB_BUTTON_PRESS: {
        const auto& press = reinterpret_cast<const xcb_button_press_event_t&>(event);
        if (press.event != window.input_window) return {Kind::Ignored};
        if (press.detail < 1 || press.detail > 3) return {Kind::Ignored};
        return {Kind::Click, press.detail};
    }
    case XCB_CLIENT_MESSAGE: {
        const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
        return {message.data.data32[0] == window.wm_delete_window ? Kind::CloseRequest
                                                                  : Kind::Ignored};
    }
    case XCB_DESTROY_NOTIFY: return {Kind::WindowDestroyed};
    case XCB_EXPOSE: {
        // Only the last of a series: the answer is always the whole image.
        const auto& expose = reinterpret_cast<const xcb_expose_event_t&>(event);
        return {expose.count == 0 ? Kind::Exposed : Kind::Ignored};
    }
    default:
        // Protocol errors (response type 0) included: they are dropped.
        return {Kind::Ignored};
    }
}

} // namespace

std::expected<DockEvent, Error> next_dock_event(DockWindow& window)
{
    xcb_connection_t* connection = dock_xcb_connection(window);
    XcbPtr<xcb_generic_event_t> event = std::move(window.connection->held);
    if (!event) event.reset(xcb_poll_for_event(connection));
    if (!event) {
        if (auto alive = check_connection(connection); !alive)
            return std::unexpected(alive.error());
        return DockEvent{DockEvent::Kind::NothingPending};
    }
    return classify(*event, window);
}

std::expected<DockWait, Error> wait_for_dock_event(DockWindow& window,
                                                   std::chrono::steady_clock::time_point deadline)
{
    DockConnection& dock = *window.connection;
    xcb_connection_t* connection = dock.xcb.get();
    if (dock.held) return DockWait::Ready;
    // libxcb reads whatever the server has sent while it writes (a frame, a flush) and queues
    // it; the socket is then empty and poll would sleep through those events.
    dock.held.reset(xcb_poll_for_queued_event(connection));
    if (dock.held || xcb_connection_has_error(connection)) return DockWait::Ready;

    // Armed for the absolute deadline: a signal that interrupts the poll changes nothing.
    const auto since_epoch =
        std::max(std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()),
                 std::chrono::nanoseconds(1)); // a zero time would disarm
    itimerspec at{};
    at.it_value.tv_sec = static_cast<time_t>(since_epoch.count() / 1000000000);
    at.it_value.tv_nsec = static_cast<long>(since_epoch.count() % 1000000000);
    if (timerfd_settime(dock.wake_timer.fd, TFD_TIMER_ABSTIME, &at, nullptr) != 0) {
        return std::unexpected(
            description("cannot set the wake-up timer: " + os_error_text(errno)));
    }
    std::array<pollfd, 2> watched{pollfd{xcb_get_file_descriptor(connection), POLLIN, 0},
                                  pollfd{dock.wake_timer.fd, POLLIN, 0}};
    for (;;) {
        const int ready = poll(watched.data(), watched.size(), -1);
        if (ready > 0) {
            if ((watched[0].revents & POLLNVAL) != 0) {
                return std::unexpected(description("the X connection's descriptor is not open"));
            }
            // An event that came with the deadline is served first.
            return watched[0].revents != 0 ? DockWait::Ready : DockWait::TimedOut;
        }
        // A signal (SIGHUP asks for a reload) only interrupts: the timer still holds the deadline.
        if (errno != EINTR) {
            return std::unexpected(
                description("waiting on the X connection: " + os_error_text(errno)));
        }
    }
}

} // namespace kd
