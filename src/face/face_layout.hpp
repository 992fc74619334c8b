#pragma once
// The whole clock face, painted into the buffer for the current instant.

#include "face/clock.hpp"
#include "face/font.hpp"
#include "face/pixel_buffer.hpp"
#include "settings/settings.hpp"

namespace kd {

// Reads the clock once, clears the buffer and paints every band, separator and the bevel.
void paint_face(PixelBuffer& buffer, const Font& font, const Settings& settings,
                const Clock& clock);

} // namespace kd
