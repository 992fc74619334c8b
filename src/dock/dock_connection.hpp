#pragma once
// The xcb side of DockWindow, shared by the files of src/dock. Nothing outside src/dock
// includes this: tests and benchmarks reach the window's connection through dock/dock_xcb.hpp.

#include "base/descriptor.hpp"
#include "base/error.hpp"
#include "dock/dock_window.hpp"
#include "dock/dock_xcb.hpp"
#include "dock/server_setup.hpp"

#include <xcb/xcb.h>

#include <cstdlib>
#include <expected>
#include <memory>
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

// A working connection whose set-up has been read within its length and found sound.
struct ConnectedDisplay {
    std::unique_ptr<xcb_connection_t, XcbDisconnect> xcb;
    // The display's name as given (nullptr: DISPLAY unset) and the screen number that libxcb
    // read from it.
    const char* name = nullptr;
    int screen = 0;
    ServerSetup setup;
};

// Connects to display_name (nullptr: $DISPLAY) and reads the server's set-up; the connection
// is closed on exec. The error says what happened in words the user can act on: no server,
// a refusal with the server's reason, a set-up cut short or malformed, the system's error.
std::expected<ConnectedDisplay, Error> connect_display(const char* display_name);

// The error for a screen number that the display's server does not have.
Error missing_screen_error(const char* display, int screen);

// Whether the screen that libxcb read from the display name is not the number written there:
// libxcb keeps it in an int, so ":0.4294967296" would quietly open screen 0.
bool screen_number_wrapped(std::string_view display, int screen);

// Nothing while the connection works; once it has failed, what failed.
std::expected<void, Error> check_connection(xcb_connection_t* connection);

} // namespace kd
