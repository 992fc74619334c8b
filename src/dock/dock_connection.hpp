#pragma once
// The xcb side of DockWindow, shared by the files of src/dock (and by tests that need to
// talk on the window's own connection). Nothing outside src/dock and the tests includes this.

#include "base/descriptor.hpp"
#include "base/error.hpp"
#include "dock/dock_window.hpp"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kd {

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// Replies, events and errors from xcb are malloc'ed and handed over to the caller.
struct XcbFree {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T> using XcbPtr = std::unique_ptr<T, XcbFree>;

struct DockConnection {
    std::unique_ptr<xcb_connection_t, XcbDisconnect> xcb;
    // A monotonic timerfd that ends wait_for_dock_event at its deadline. poll's own time-out
    // gets a slack of a thousandth of its length from the kernel: a wait of a second would
    // wake up to a millisecond late.
    Descriptor wake_timer;
    // An event that wait_for_dock_event took off libxcb's queue to learn that there was one;
    // next_dock_event hands it out first.
    XcbPtr<xcb_generic_event_t> held;
};

// Whether an error happened while opening the display or on a connection that was working.
enum class ConnectionStage { Opening, Open };

// A connection as xcb_connect left it (in an error state when it failed), the screen that
// the display name asked for, and the server's reason when it answered the connection
// set-up with a refusal (empty when it gave none).
struct OpenedConnection {
    std::unique_ptr<xcb_connection_t, XcbDisconnect> xcb;
    int screen = 0;
    std::optional<std::string> refusal;
};

// xcb_connect to display_name (nullptr: $DISPLAY), keeping what libxcb would write to
// standard error about a refused set-up for the error line instead.
OpenedConnection connect_display(const char* display_name);

// The screen number of a display name such as ":0.1" or "host:0.12", as written (decimal
// digits only); nothing when the name gives none.
std::optional<std::string_view> screen_in_display_name(std::string_view display);

// Whether the screen that libxcb read from the display name is not the number written there:
// libxcb keeps it in an int, so ":0.4294967296" would quietly open screen 0.
bool screen_number_wrapped(std::string_view display, int screen);

// The words for an xcb connection error code (xcb_connection_has_error). `display` is the
// name that was opened (nullptr when DISPLAY is unset), `screen` the screen asked for and
// `refusal` the server's reason for turning the set-up down; they only matter for errors
// while opening.
std::string connection_error_text(int code, ConnectionStage stage, const char* display, int screen,
                                  const std::optional<std::string>& refusal = std::nullopt);

// The connection's error as an Error value, when it has one.
std::optional<Error> connection_error(xcb_connection_t* connection);

// The window's live connection.
xcb_connection_t* dock_xcb_connection(const DockWindow& window);

} // namespace kd
