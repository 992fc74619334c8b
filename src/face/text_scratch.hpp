#pragma once
// What a TextScratch holds. Part of the text drawing; not of the face's public interface.

#include "face/font_data.hpp"
#include "face/glyph_raster.hpp"
#include "face/line_breaking.hpp"
#include "face/text_drawing.hpp"

namespace kd {

struct ScratchData {
    FT_Face face = nullptr; // the face that the shaper and the size below were made for
    HarfBuzzFont shaper;    // follows `size`
    // A size of its own, activated on the face for each call, so that the font is never set
    // to a size for good. Released before the shaper lets go of the face.
    FreeTypeSize size;
    long char_size = 0; // 26.6, what `size` is set to; 0 for none yet
    HarfBuzzBuffer buffer;
    LineLayout lines;
    GlyphRaster raster;
};

} // namespace kd
