#pragma once
// The docked window: connection, windows, properties. No xcb type leaks out of src/dock.

#include "base/arguments.hpp"
#include "base/error.hpp"
#include "settings/settings.hpp"

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kd {

struct DockConnection; // owns the xcb_connection_t

// Each 8-bit value of a painted channel as bits of the server's pixel, for a root visual whose
// channels are not 8 bits at 16, 8 and 0 (a 30-bit screen has 10 bits each at 20, 10 and 0).
struct ChannelTables {
    std::array<std::uint32_t, 256> red{};
    std::array<std::uint32_t, 256> green{};
    std::array<std::uint32_t, 256> blue{};
};

// The tables for a visual's colour masks, each value scaled so that 255 fills the channel;
// nothing when the masks are the painter's own 8-8-8 layout or are not three separate runs
// of bits (a visual without colour masks).
std::optional<ChannelTables> channel_tables(std::uint32_t red_mask, std::uint32_t green_mask,
                                            std::uint32_t blue_mask);

struct DockWindow {
    std::unique_ptr<DockConnection> connection;
    std::uint32_t face_window = 0;
    std::uint32_t input_window = 0;
    std::uint32_t gc = 0;
    std::uint8_t depth = 0;
    bool lsb_first = true;
    std::uint32_t wm_delete_window = 0;
    std::uint32_t size = 0;
    // Set when the server's pixels are laid out otherwise than painted; every frame is then
    // converted into `converted`, which is allocated with the window. Empty otherwise, and
    // the painted buffer goes out itself.
    std::optional<ChannelTables> channels;
    std::vector<std::uint8_t> converted;
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
