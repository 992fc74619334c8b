#pragma once
// The FreeType and HarfBuzz objects behind a Font, shared by the font loader and the text
// drawing. Not part of the face's public interface.

#include "face/font.hpp"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ft.h>
#include <hb.h>

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

// One shaped glyph: where its origin lies in the layout, before the bitmap offsets.
struct PlacedGlyph {
    std::uint32_t glyph = 0;
    float origin_x = 0; // pen position plus HarfBuzz's offset, pixels
    float baseline_y = 0; // y down
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
    std::vector<PlacedGlyph> placed;
    std::vector<float> pens;
    long current_char_size = 0; // 26.6, what the face is set to now
};

// FreeType loads glyphs unhinted, outlines only, so metrics scale smoothly with the size.
inline constexpr FT_Int32 GLYPH_LOAD_FLAGS = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;

} // namespace kd
