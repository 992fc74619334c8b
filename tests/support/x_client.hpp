#pragma once
// Small xcb helpers for tests that inspect and poke a display from a client of their own.
// Each request that has a reply waits for it; replies are freed before returning.

#include <xcb/xcb.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kd::test {

using Cookie = std::array<std::uint8_t, 16>; // an MIT-MAGIC-COOKIE-1

// An xcb connection to `display` (RAII), presenting `cookie` when one is given.
// Throws std::runtime_error when it cannot connect.
class XConnection {
  public:
    explicit XConnection(const std::string& display,
                         const std::optional<Cookie>& cookie = std::nullopt);
    xcb_connection_t* get() const { return connection_.get(); }
    // The root window of screen `screen` (0 when there is no such screen).
    xcb_window_t root(int screen = 0) const;

  private:
    struct Disconnect {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };
    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
};

// A property as the server keeps it; absent properties come back as nullopt.
struct PropertyValue {
    xcb_atom_t type = 0;
    std::uint8_t format = 0;
    std::vector<std::uint8_t> bytes;
    // The value read as 32-bit items (format 32 only).
    std::vector<std::uint32_t> words() const;
};
std::optional<PropertyValue> get_property(xcb_connection_t* connection, xcb_window_t window,
                                          xcb_atom_t property);

// The atom of `name`; with only_if_exists, 0 when the server does not know the name yet.
xcb_atom_t intern_atom(xcb_connection_t* connection, std::string_view name,
                       bool only_if_exists = false);

struct Geometry {
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t border_width = 0;
    std::uint8_t depth = 0;
};
// Position relative to the parent, size and depth; nullopt for a window that does not exist.
std::optional<Geometry> get_geometry(xcb_connection_t* connection, xcb_window_t window);

// The window's class (InputOutput 1, InputOnly 2) and override-redirect flag.
struct WindowAttributes {
    std::uint16_t window_class = 0;
    bool override_redirect = false;
    std::uint8_t map_state = 0;
    std::uint32_t all_event_masks = 0; // what every client together selects on the window
};
std::optional<WindowAttributes> get_window_attributes(xcb_connection_t* connection,
                                                      xcb_window_t window);

struct Tree {
    xcb_window_t root = 0;
    xcb_window_t parent = 0;
    std::vector<xcb_window_t> children; // bottom to top
};
std::optional<Tree> query_tree(xcb_connection_t* connection, xcb_window_t window);

// The window's pixels as a ZPixmap in the server's image byte order, rows top to bottom.
std::optional<std::vector<std::uint8_t>> get_image(xcb_connection_t* connection,
                                                   xcb_window_t window, std::uint16_t width,
                                                   std::uint16_t height);

// The first window, searched depth first from `top`, whose WM_NAME is `name`.
std::optional<xcb_window_t> find_window_by_name(xcb_connection_t* connection, xcb_window_t top,
                                                std::string_view name);

// Where the window's top-left corner lies on the root.
std::optional<std::pair<std::int16_t, std::int16_t>> root_position(xcb_connection_t* connection,
                                                                   xcb_window_t window);

// Docked the way a dock, slit or harbour holds a dockapp: viewable, re-parented away from the
// root, and without the WM_STATE that a window manager puts on every client it manages
// (framed, iconified or withdrawn), whatever the window manager.
bool is_docked(xcb_connection_t* connection, xcb_window_t window);

// fluxbox's slit window, when it exists (see FluxboxSession).
std::optional<xcb_window_t> find_fluxbox_slit(xcb_connection_t* connection);

// Moves the pointer to (x, y) on the root and presses and releases `button`, through XTEST,
// as a real mouse would; returns after the server has processed it.
void fake_click(xcb_connection_t* connection, std::int16_t x, std::int16_t y, std::uint8_t button);

// Whether the window's top-left pixel shows paint rather than the black it is mapped with.
bool is_painted(xcb_connection_t* connection, xcb_window_t window);

// A running clock's windows as the server has them.
struct ClockWindows {
    xcb_window_t face = 0;
    xcb_window_t input = 0; // the InputOnly child that takes the clicks
};

// Waits until the window named `name` below `top` is viewable, its InputOnly child is mapped
// and its face is painted: a click, an exposure or a close then meets a clock that is there
// to take it. A name alone is written before any of that. nullopt at the timeout.
std::optional<ClockWindows>
wait_for_clock(xcb_connection_t* connection, xcb_window_t top,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000),
               std::string_view name = "kestrelDial");

// Moves the pointer through XTEST to (x, y) of `window` until `window` is the deepest window
// under it (mapped, uncovered and where it was asked for), then presses and releases `button`
// there; returns after the server has processed the press. False, with nothing pressed, when
// the pointer is not over the window before the timeout.
bool click_on(xcb_connection_t* connection, xcb_window_t window, std::int16_t x, std::int16_t y,
              std::uint8_t button,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Sends a ClientMessage of `type`, format 32, with `data` as its five items, to `window`
// (no event mask: it reaches the window's owner whatever it selected).
void send_client_message(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t type,
                         const std::array<std::uint32_t, 5>& data);

// Asks the owner of `window` to close it, as a window manager does: WM_DELETE_WINDOW in a
// WM_PROTOCOLS message. Returns after the server has sent it.
void request_close(xcb_connection_t* connection, xcb_window_t window);

// Sends a synthetic Expose of the whole window with the given count, to clients that
// selected Exposure on it; returns after the server has handled it unless `wait` is false.
void send_expose(xcb_connection_t* connection, xcb_window_t window, std::uint16_t width,
                 std::uint16_t height, std::uint16_t count, bool wait = true);

// Destroys a window that another client owns; returns after the server has done it.
void destroy_window(xcb_connection_t* connection, xcb_window_t window);

// A round trip: everything sent before has been processed by the server on return.
void sync(xcb_connection_t* connection);

// Polls `condition` every few milliseconds until it holds (true) or `timeout` has passed
// (false). The default leaves room for a loaded machine; only a failing wait runs it out.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

} // namespace kd::test
