#pragma once
// The docked window: connection, windows, properties. No xcb type leaks out of src/dock.

#include "base/arguments.hpp"
#include "base/error.hpp"
#include "face/pixel_buffer.hpp"
#include "settings/settings.hpp"

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>

namespace kd {

struct DockConnection; // owns the xcb_connection_t

struct DockWindow {
    std::unique_ptr<DockConnection> connection;
    std::uint32_t face_window = 0;
    std::uint32_t input_window = 0;
    std::uint32_t gc = 0;
    std::uint8_t depth = 0;
    bool lsb_first = true;
    std::uint32_t wm_delete_window = 0;
    std::uint32_t size = 0;
    // Where the root visual puts each channel, when that is not 8 bits at 16, 8 and 0: the
    // pixel buffer is made with these and painted in the server's own format.
    std::optional<ChannelTables> channels;
    // The server's longest request in 4-byte units, asked at the first frame too long for the
    // core limit (asking enables BIG-REQUESTS, which such a frame needs anyway); 0 until then.
    std::uint32_t max_request_units = 0;

    DockWindow();
    DockWindow(DockWindow&&) noexcept;
    DockWindow& operator=(DockWindow&&) noexcept;
    ~DockWindow();
};

// The first --dock N: decimal, one optional '+', 0..4294967295; anything else gives nothing.
std::optional<std::uint32_t> slit_number(const Arguments& args);

// Connects to display_name (nullptr: $DISPLAY), checks the pixel format, creates and maps
// the face window and its input window with the window-manager properties, and flushes.
std::expected<DockWindow, Error> open_dock_window(const Settings& settings, const Arguments& args,
                                                  const char* display_name = nullptr);

} // namespace kd
