#pragma once
// The FreeType objects behind a Font, and the handles that release FreeType and HarfBuzz
// objects, shared by the font loader and the text drawing. Not part of the face's public
// interface.

#include "face/font.hpp"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H
#include <hb.h>

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

namespace kd {

struct FreeTypeLibraryRelease {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FreeTypeFaceRelease {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
struct FreeTypeSizeRelease {
    void operator()(FT_Size size) const { FT_Done_Size(size); }
};
struct HarfBuzzFontRelease {
    void operator()(hb_font_t* font) const { hb_font_destroy(font); }
};
struct HarfBuzzBufferRelease {
    void operator()(hb_buffer_t* buffer) const { hb_buffer_destroy(buffer); }
};

using FreeTypeLibrary = std::unique_ptr<std::remove_pointer_t<FT_Library>, FreeTypeLibraryRelease>;
using FreeTypeFace = std::unique_ptr<std::remove_pointer_t<FT_Face>, FreeTypeFaceRelease>;
using FreeTypeSize = std::unique_ptr<std::remove_pointer_t<FT_Size>, FreeTypeSizeRelease>;
using HarfBuzzFont = std::unique_ptr<hb_font_t, HarfBuzzFontRelease>;
using HarfBuzzBuffer = std::unique_ptr<hb_buffer_t, HarfBuzzBufferRelease>;

// Members are destroyed in reverse order: the face before its library, and the bytes last
// because FreeType reads from them.
struct FontData {
    std::vector<std::uint8_t> bytes;
    FreeTypeLibrary library;
    FreeTypeFace face;
};

// FreeType loads glyphs unhinted, outlines only, so metrics scale smoothly with the size.
inline constexpr FT_Int32 GLYPH_LOAD_FLAGS = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;

} // namespace kd
