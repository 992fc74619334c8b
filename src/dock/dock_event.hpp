#pragma once
// What the X server tells the clock, reduced to what it reacts to.

#include "dock/dock_window.hpp"
#include "settings/error.hpp"

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

} // namespace kd
