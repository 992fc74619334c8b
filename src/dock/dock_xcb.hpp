#pragma once
// The window's own xcb connection, for tests and benchmarks that talk to the server on it
// (to wait for a round trip, say). The program itself uses it only inside src/dock.

#include "dock/dock_window.hpp"

#include <xcb/xcb.h>

namespace kd {

xcb_connection_t* dock_xcb_connection(const DockWindow& window);

} // namespace kd
