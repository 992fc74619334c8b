#pragma once
// The docked window: connection, windows, properties. No xcb type leaks out of src/dock.

#include "settings/environment.hpp"
#include "settings/error.hpp"
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

// The X connection's file descriptor (children must not inherit it).
int dock_connection_fd(const DockWindow& window);

} // namespace kd
