#pragma once
// Sending a painted frame: one PutImage of the whole buffer and one flush.

#include "base/error.hpp"
#include "dock/dock_window.hpp"
#include "face/pixel_buffer.hpp"

#include <expected>

namespace kd {

std::expected<void, Error> present_frame(DockWindow& window, const PixelBuffer& buffer);

} // namespace kd
