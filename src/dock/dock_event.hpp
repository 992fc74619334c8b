#pragma once
// What the X server tells the clock, reduced to what it reacts to.

#include "base/error.hpp"
#include "dock/dock_window.hpp"

#include <chrono>
#include <cstdint>
#include <expected>

namespace kd {

struct DockEvent {
    enum class Kind { NothingPending, Click, CloseRequest, WindowDestroyed, Exposed, Ignored };
    Kind kind = Kind::NothingPending;
    std::uint8_t button = 0; // 1, 2 or 3 for Click
};

// Never blocks: takes at most one event that is already there.
std::expected<DockEvent, Error> next_dock_event(DockWindow& window);

enum class DockWait { Ready, TimedOut };

// Waits until next_dock_event has something to give or the deadline passes on the monotonic
// clock. Signals neither end nor shorten the wait. A hang-up or error of the connection also
// ends it as Ready, so that the next next_dock_event reports the error.
std::expected<DockWait, Error> wait_for_dock_event(DockWindow& window,
                                                   std::chrono::steady_clock::time_point deadline);

} // namespace kd
