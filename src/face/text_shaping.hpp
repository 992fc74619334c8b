#pragma once
// Turning one line of text into glyphs: its bidirectional levels (FriBidi), its runs shaped
// (HarfBuzz), and the display order of any stretch of it (FriBidi's line reordering). Part of
// the text drawing; not of the face's public interface.

#include <fribidi.h>
#include <hb.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kd {

// One shaped glyph of a line, in reading order, with the bidirectional level of its run.
struct ShapedGlyph {
    std::uint32_t glyph = 0;
    std::uint32_t cluster = 0; // byte offset of its first character in the text
    float advance = 0;         // pixels
    float x_offset = 0;
    float y_offset = 0;
    FriBidiLevel level = 0; // even: left to right
};

// What shaping one line leaves behind, reused from line to line.
struct ShapedLine {
    std::vector<ShapedGlyph> glyphs; // reading order
    bool bidirectional = false;      // false: one left-to-right run, shown as read
    std::size_t start = 0;           // where the line begins in the text
    // Per character of a bidirectional line.
    std::vector<FriBidiChar> characters;
    std::vector<std::size_t> character_starts; // byte offsets within the line
    std::vector<FriBidiCharType> bidi_types;
    std::vector<FriBidiBracketType> bracket_types;
    std::vector<FriBidiLevel> levels;
    // Per glyph of the stretch being reordered.
    std::vector<FriBidiCharType> glyph_types;
    std::vector<FriBidiLevel> glyph_levels;
    std::vector<FriBidiStrIndex> display_order; // glyph indices, left to right
};

// Shapes text[start, start + length), one line and a paragraph of its own at a left-to-right
// base direction, into line.glyphs with `shaper` at its current size. `buffer` is scratch.
void shape_line(ShapedLine& line, hb_font_t* shaper, hb_buffer_t* buffer, std::string_view text,
                std::size_t start, std::size_t length);

// The glyphs [begin, end) of the line, one visual line, in display order, left to right.
const std::vector<FriBidiStrIndex>& display_order(ShapedLine& line, std::size_t begin,
                                                  std::size_t end);

} // namespace kd
