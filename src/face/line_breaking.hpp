#pragma once
// Laying a text out in lines: hard breaks, greedy wrapping at blanks by shaped advance, and
// each line's glyphs placed left to right. Part of the text drawing; not of the face's public
// interface.

#include "face/text_shaping.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kd {

enum class TextAlign;

// Where a laid-out text goes: the top-left corner of its box and, when it wraps, its width.
struct LayoutBox {
    float x = 0;
    float y = 0;
    float max_width = 0;
    bool wraps = false;
    TextAlign align{};
};

// The font's vertical measures at the layout's size, in pixels.
struct LineMetrics {
    float ascent = 0;
    float line_height = 0;
};

// One glyph placed: where its origin lies in the layout, before the bitmap offsets.
struct PlacedGlyph {
    std::uint32_t glyph = 0;
    float origin_x = 0;   // pen position plus the shaper's offset, pixels
    float baseline_y = 0; // y down
};

// What laying out leaves behind, reused from call to call.
struct LineLayout {
    ShapedLine shaped;
    std::vector<float> pens; // reading-order pen positions within the current hard line
    std::vector<PlacedGlyph> placed;
};

// Fills layout.placed with every glyph of the text, shaped with `shaper` at its current size.
void lay_out_lines(LineLayout& layout, hb_font_t* shaper, hb_buffer_t* buffer,
                   std::string_view text, const LayoutBox& box, const LineMetrics& metrics);

} // namespace kd
