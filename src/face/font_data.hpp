#pragma once
// The FreeType and HarfBuzz objects behind a Font, shared by the font loader and the text
// drawing. Not part of the face's public interface.

#include "face/font.hpp"

#include <fribidi.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ft.h>
#include <hb.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace kd {

struct FreeTypeLibraryRelease {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FreeTypeFaceRelease {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
struct HarfBuzzFontRelease {
    void operator()(hb_font_t* font) const { hb_font_destroy(font); }
};
struct HarfBuzzBufferRelease {
    void operator()(hb_buffer_t* buffer) const { hb_buffer_destroy(buffer); }
};

using FreeTypeLibrary = std::unique_ptr<std::remove_pointer_t<FT_Library>, FreeTypeLibraryRelease>;
using FreeTypeFace = std::unique_ptr<std::remove_pointer_t<FT_Face>, FreeTypeFaceRelease>;
using HarfBuzzFont = std::unique_ptr<hb_font_t, HarfBuzzFontRelease>;
using HarfBuzzBuffer = std::unique_ptr<hb_buffer_t, HarfBuzzBufferRelease>;

// One shaped glyph of a line, in reading order, with the bidirectional level of its run.
struct ShapedGlyph {
    std::uint32_t glyph = 0;
    std::uint32_t cluster = 0; // byte offset of its first character in the text
    float advance = 0;         // pixels
    float x_offset = 0;
    float y_offset = 0;
    FriBidiLevel level = 0; // even: left to right
};

// One shaped glyph: where its origin lies in the layout, before the bitmap offsets.
struct PlacedGlyph {
    std::uint32_t glyph = 0;
    float origin_x = 0;   // pen position plus HarfBuzz's offset, pixels
    float baseline_y = 0; // y down
};

// A glyph's bitmap box at the face's current size, as loading the glyph sets it up.
struct GlyphBoxMemo {
    std::uint32_t glyph = 0;
    std::uint32_t layout = 0; // the measurement it was worked out in; 0 for none
    bool drawable = false;    // loaded as an outline and, when drawing, rendered
    FT_Int left = 0;
    FT_Int top = 0;
    unsigned width = 0;
    unsigned rows = 0;
    std::size_t coverage = 0; // when drawing: where its rendered rows start in FontData::coverage
};

// Members are destroyed in reverse order: the HarfBuzz objects before the face they use,
// the face before its library, and the bytes last because FreeType reads from them.
struct FontData {
    std::vector<std::uint8_t> bytes;
    FreeTypeLibrary library;
    FreeTypeFace face;
    HarfBuzzFont shaper;
    // Scratch reused by every layout so that painting a frame allocates next to nothing.
    // A Font is only ever used from one thread at a time.
    HarfBuzzBuffer shaping_buffer;
    std::vector<ShapedGlyph> shaped;
    std::vector<PlacedGlyph> placed;
    std::vector<float> pens;
    // Only lines with right-to-left text or direction marks use these.
    std::vector<FriBidiChar> characters;
    std::vector<std::size_t> character_starts; // byte offsets within the line
    std::vector<FriBidiCharType> bidi_types;
    std::vector<FriBidiBracketType> bracket_types;
    std::vector<FriBidiLevel> levels;
    std::vector<std::size_t> display_order;
    std::vector<FriBidiLevel> display_levels;
    // The glyphs met in one measuring or drawing call, so that a glyph that recurs in a long
    // text is loaded and rendered once; a slot counts only when its layout is the current one.
    std::array<GlyphBoxMemo, 256> boxes{};
    std::uint32_t layout_serial = 0;
    std::vector<unsigned char> coverage; // rendered rows, top down, width bytes each
    long current_char_size = 0;          // 26.6, what the face is set to now
};

// FreeType loads glyphs unhinted, outlines only, so metrics scale smoothly with the size.
inline constexpr FT_Int32 GLYPH_LOAD_FLAGS = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;

} // namespace kd
