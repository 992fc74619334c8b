#pragma once
// The whole clock face, painted into the buffer for the current instant.

#include "face/clock.hpp"
#include "face/font.hpp"
#include "face/pixel_buffer.hpp"
#include "face/text_drawing.hpp"
#include "settings/settings.hpp"

#include <functional>

namespace kd {

struct TimeLineSizes {
    float time = 0;
    float suffix = 0;
};

// Sizes for the time and its suffix side by side within `available` pixels: the time shrinks
// first, one unit at a time down to 13 units, then the suffix from 15 down to 10 units, and
// only then are both scaled by one factor. The widths are measured by the callbacks.
TimeLineSizes fit_time_line(float time_size, float unit, float available,
                            const std::function<float(float)>& time_width,
                            const std::function<float(float)>& suffix_width);

// Reads the clock once, clears the buffer and paints every band, separator and the bevel.
// The scratch is the text drawing's working memory, made once and lent to every frame.
void paint_face(PixelBuffer& buffer, const Font& font, TextScratch& scratch,
                const Settings& settings, const Clock& clock);

} // namespace kd
