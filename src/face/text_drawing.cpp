#include "face/text_drawing.hpp"

#include "base/utf8.hpp"
#include "face/font_data.hpp"

#include FT_ADVANCES_H

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>

namespace kd {

namespace {

// Where the layout engine breaks lines: ordinary blanks only.
bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Puts the face at the size; FreeType and HarfBuzz are only told when it changes.
bool set_size(FontData& data, float size)
{
    if (!(size > 0) || !std::isfinite(size) || size > 1.0e6f) return false;
    const long char_size = std::lround(static_cast<double>(size) * 64.0);
    if (char_size < 1) return false;
    if (char_size == data.current_char_size) return true;
    data.current_char_size = 0;
    if (FT_Set_Char_Size(data.face.get(), 0, char_size, 72, 72) != 0) return false;
    hb_ft_font_changed(data.shaper.get());
    data.current_char_size = char_size;
    return true;
}

struct LayoutBox {
    float x = 0;
    float y = 0;
    float max_width = 0;
    bool wraps = false;
    TextAlign align = TextAlign::Left;
};

// What can make a line anything but one left-to-right run: right-to-left letters, Arabic
// numbers, and the explicit embeddings, overrides and isolates. Nothing below U+0590 is such.
bool steers_direction(char32_t code)
{
    if (code < 0x0590) return false;
    constexpr auto STEERING = static_cast<FriBidiCharType>(
        FRIBIDI_MASK_RTL | FRIBIDI_MASK_ARABIC | FRIBIDI_MASK_EXPLICIT | FRIBIDI_MASK_ISOLATE);
    return (fribidi_get_bidi_type(code) & STEERING) != 0;
}

// Resolves the bidirectional levels of one line (a paragraph of its own) at a left-to-right
// base direction, into data.levels per character of data.character_starts. False when the
// whole line is one left-to-right run, which is settled without FriBidi.
bool resolve_levels(FontData& data, std::string_view line)
{
    bool steered = false;
    for (std::size_t i = 0; i < line.size() && !steered;) {
        if (static_cast<unsigned char>(line[i]) < 0x80) {
            ++i;
            continue;
        }
        const DecodedChar decoded = decode_utf8_at(line, i);
        steered = steers_direction(decoded.code);
        i += decoded.length;
    }
    if (!steered) return false;

    data.characters.clear();
    data.character_starts.clear();
    for (std::size_t i = 0; i < line.size();) {
        const DecodedChar decoded = decode_utf8_at(line, i);
        data.characters.push_back(decoded.code);
        data.character_starts.push_back(i);
        i += decoded.length;
    }
    const auto count = static_cast<FriBidiStrIndex>(data.characters.size());
    data.bidi_types.resize(data.characters.size());
    data.bracket_types.resize(data.characters.size());
    data.levels.resize(data.characters.size());
    fribidi_get_bidi_types(data.characters.data(), count, data.bidi_types.data());
    fribidi_get_bracket_types(data.characters.data(), count, data.bidi_types.data(),
                              data.bracket_types.data());
    FriBidiParType base = FRIBIDI_PAR_LTR;
    // 0 means FriBidi failed (out of memory): the line is then drawn as one left-to-right run.
    return fribidi_get_par_embedding_levels_ex(data.bidi_types.data(), data.bracket_types.data(),
                                               count, &base, data.levels.data()) != 0;
}

// Shapes text[start, start + length) in one direction and appends its glyphs in reading order.
void shape_run(FontData& data, std::string_view text, std::size_t start, std::size_t length,
               FriBidiLevel level)
{
    hb_buffer_t* buffer = data.shaping_buffer.get();
    hb_buffer_clear_contents(buffer);
    hb_buffer_add_utf8(buffer, text.data(), static_cast<int>(text.size()),
                       static_cast<unsigned>(start), static_cast<int>(length));
    hb_buffer_set_direction(buffer, (level & 1) != 0 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(data.shaper.get(), buffer, nullptr, 0);

    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    const std::size_t first = data.shaped.size();
    for (unsigned i = 0; i < count; ++i) {
        data.shaped.push_back(ShapedGlyph{infos[i].codepoint, infos[i].cluster,
                                          static_cast<float>(positions[i].x_advance) / 64.0f,
                                          static_cast<float>(positions[i].x_offset) / 64.0f,
                                          static_cast<float>(positions[i].y_offset) / 64.0f,
                                          level});
    }
    // HarfBuzz hands a right-to-left run over in display order; lines are broken in reading
    // order, and the run is turned back when its line is placed.
    if ((level & 1) != 0)
        std::reverse(data.shaped.begin() + static_cast<std::ptrdiff_t>(first), data.shaped.end());
}

// Shapes one hard line into data.shaped, run by run of equal bidirectional level.
void shape_line(FontData& data, std::string_view text, std::size_t start, std::size_t length)
{
    data.shaped.clear();
    if (!resolve_levels(data, text.substr(start, length))) {
        shape_run(data, text, start, length, 0);
        return;
    }
    const std::size_t count = data.characters.size();
    for (std::size_t first = 0; first < count;) {
        std::size_t next = first + 1;
        while (next < count && data.levels[next] == data.levels[first])
            ++next;
        const std::size_t from = data.character_starts[first];
        const std::size_t to = next < count ? data.character_starts[next] : length;
        shape_run(data, text, start + from, to - from, data.levels[first]);
        first = next;
    }
}

// Appends glyphs [begin, end) of data.shaped, one visual line, to data.placed in display order.
// pens holds the reading-order pen positions; blank(i) tells the blanks.
template <typename Blank>
void place_glyphs(FontData& data, std::size_t begin, std::size_t end, float line_x, float baseline,
                  Blank blank, const std::string_view text)
{
    const std::vector<ShapedGlyph>& glyphs = data.shaped;
    const std::vector<float>& pens = data.pens;
    bool left_to_right = true;
    for (std::size_t i = begin; i < end && left_to_right; ++i)
        left_to_right = glyphs[i].level == 0;
    if (left_to_right) {
        for (std::size_t i = begin; i < end; ++i)
            data.placed.push_back(PlacedGlyph{glyphs[i].glyph,
                                              line_x + (pens[i] - pens[begin]) + glyphs[i].x_offset,
                                              baseline - glyphs[i].y_offset});
        return;
    }

    std::vector<std::size_t>& order = data.display_order;
    std::vector<FriBidiLevel>& levels = data.display_levels;
    order.clear();
    levels.clear();
    for (std::size_t i = begin; i < end; ++i) {
        order.push_back(i);
        levels.push_back(glyphs[i].level);
    }
    // Blanks at the end of the line, and blanks before a tab, take the base direction again.
    bool to_base = true;
    for (std::size_t i = end; i-- > begin;) {
        if (!blank(i)) {
            to_base = false;
            continue;
        }
        if (text[glyphs[i].cluster] == '\t') to_base = true;
        if (to_base) levels[i - begin] = 0;
    }
    // From the highest level down to the lowest odd one, every stretch at that level or above
    // is turned around.
    const auto [lowest, highest] = std::minmax_element(levels.begin(), levels.end());
    const auto lowest_odd = static_cast<FriBidiLevel>(*lowest | 1);
    for (FriBidiLevel level = *highest; level >= lowest_odd; --level) {
        for (std::size_t i = 0; i < levels.size();) {
            if (levels[i] < level) {
                ++i;
                continue;
            }
            std::size_t stretch_end = i;
            while (stretch_end < levels.size() && levels[stretch_end] >= level)
                ++stretch_end;
            std::reverse(order.begin() + static_cast<std::ptrdiff_t>(i),
                         order.begin() + static_cast<std::ptrdiff_t>(stretch_end));
            std::reverse(levels.begin() + static_cast<std::ptrdiff_t>(i),
                         levels.begin() + static_cast<std::ptrdiff_t>(stretch_end));
            i = stretch_end;
        }
    }
    float pen = 0;
    for (const std::size_t i : order) {
        data.placed.push_back(PlacedGlyph{glyphs[i].glyph, line_x + pen + glyphs[i].x_offset,
                                          baseline - glyphs[i].y_offset});
        pen += glyphs[i].advance;
    }
}

// Places one hard line (text[start, start + length)), wrapping greedily at blanks by shaped
// advance in reading order. Returns how many visual lines it took.
int place_line(FontData& data, std::string_view text, std::size_t start, std::size_t length,
               const LayoutBox& box, float ascent, float line_height, int first_line)
{
    shape_line(data, text, start, length);
    const std::vector<ShapedGlyph>& glyphs = data.shaped;
    const std::size_t count = glyphs.size();
    if (count == 0) return 1;

    std::vector<float>& pens = data.pens;
    pens.resize(count + 1);
    pens[0] = 0;
    for (std::size_t i = 0; i < count; ++i)
        pens[i + 1] = pens[i] + glyphs[i].advance;
    const auto blank = [&](std::size_t i) {
        const std::size_t cluster = glyphs[i].cluster;
        return cluster < text.size() && is_blank(text[cluster]);
    };

    int lines = 0;
    std::size_t begin = 0;
    while (begin < count || lines == 0) {
        std::size_t end = begin;
        std::size_t next = begin;
        bool has_word = false;
        while (next < count) {
            std::size_t word = next;
            while (word < count && blank(word))
                ++word;
            std::size_t word_end = word;
            while (word_end < count && !blank(word_end))
                ++word_end;
            if (word_end == word) { // only blanks left: they stay on this line
                end = next = count;
                break;
            }
            if (box.wraps && has_word && pens[word_end] - pens[begin] > box.max_width) break;
            end = next = word_end;
            has_word = true;
        }

        const float advance = pens[end] - pens[begin];
        float line_x = box.x;
        if (box.align == TextAlign::Center && box.wraps) line_x += (box.max_width - advance) * 0.5f;
        const float baseline =
            box.y + static_cast<float>(first_line + lines) * line_height + ascent;
        place_glyphs(data, begin, end, line_x, baseline, blank, text);
        ++lines;
        begin = next;
        while (begin < count && blank(begin))
            ++begin; // the blanks at a wrap vanish
        if (next >= count) break;
    }
    return lines;
}

// Fills data.placed with every glyph of the text; nothing for a size that cannot be drawn.
void lay_out(FontData& data, std::string_view text, float size, const LayoutBox& box)
{
    data.placed.clear();
    if (text.empty() || !set_size(data, size)) return;
    const FT_Face face = data.face.get();
    const float scale = size / static_cast<float>(face->units_per_EM);
    const float ascent = static_cast<float>(face->ascender) * scale;
    const float line_height = static_cast<float>(face->height) * scale;

    int line = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t newline = text.find('\n', start);
        std::size_t length = (newline == std::string_view::npos ? text.size() : newline) - start;
        if (length > 0 && text[start + length - 1] == '\r') --length;
        line += place_line(data, text, start, length, box, ascent, line_height, line);
        if (newline == std::string_view::npos) break;
        start = newline + 1;
    }
}

struct GlyphBox {
    float x = 0;
    float y = 0;
    unsigned width = 0;
    unsigned height = 0;
};

// Forgets the glyphs of the previous call: they may be of another size.
void start_memo(FontData& data)
{
    if (++data.layout_serial == 0) {
        data.boxes.fill(GlyphBoxMemo{});
        data.layout_serial = 1;
    }
    data.coverage.clear();
}

// The bitmap box of the glyph in the slot, which FreeType sets up on loading.
void remember_box(GlyphBoxMemo& memo, const FT_GlyphSlot slot)
{
    memo.drawable = true;
    memo.left = slot->bitmap_left;
    memo.top = slot->bitmap_top;
    memo.width = slot->bitmap.width;
    memo.rows = slot->bitmap.rows;
}

template <typename Visit> void for_each_box(FontData& data, Visit visit)
{
    const FT_Face face = data.face.get();
    start_memo(data);
    for (const PlacedGlyph& glyph : data.placed) {
        GlyphBoxMemo& memo = data.boxes[glyph.glyph % data.boxes.size()];
        if (memo.layout != data.layout_serial || memo.glyph != glyph.glyph) {
            memo = GlyphBoxMemo{glyph.glyph, data.layout_serial};
            if (FT_Load_Glyph(face, glyph.glyph, GLYPH_LOAD_FLAGS) == 0 &&
                face->glyph->format == FT_GLYPH_FORMAT_OUTLINE)
                remember_box(memo, face->glyph);
        }
        if (!memo.drawable) continue;
        visit(GlyphBox{glyph.origin_x + static_cast<float>(memo.left),
                       glyph.baseline_y - static_cast<float>(memo.top), memo.width, memo.rows});
    }
}

// The glyph rendered at the current size, once per drawing call however often it recurs;
// nullptr when it has nothing to draw.
const GlyphBoxMemo* rendered_glyph(FontData& data, std::uint32_t glyph)
{
    GlyphBoxMemo& memo = data.boxes[glyph % data.boxes.size()];
    if (memo.layout == data.layout_serial && memo.glyph == glyph)
        return memo.drawable ? &memo : nullptr;
    memo = GlyphBoxMemo{glyph, data.layout_serial};
    const FT_Face face = data.face.get();
    if (FT_Load_Glyph(face, glyph, GLYPH_LOAD_FLAGS) != 0) return nullptr;
    const FT_GlyphSlot slot = face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return nullptr;
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return nullptr;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.buffer == nullptr) return nullptr;

    remember_box(memo, slot);
    memo.coverage = data.coverage.size();
    const std::size_t stride = static_cast<std::size_t>(std::abs(bitmap.pitch));
    for (unsigned r = 0; r < bitmap.rows; ++r) {
        // A negative pitch stores the rows bottom-up.
        const unsigned stored_row = bitmap.pitch >= 0 ? r : bitmap.rows - 1 - r;
        const unsigned char* row = bitmap.buffer + stored_row * stride;
        data.coverage.insert(data.coverage.end(), row, row + bitmap.width);
    }
    return &memo;
}

} // namespace

float text_width(Font& font, std::string_view text, float size)
{
    FontData& data = *font.data;
    lay_out(data, text, size, LayoutBox{});
    float width = 0;
    for_each_box(data, [&](const GlyphBox& box) {
        width = std::max(width, box.x + static_cast<float>(box.width));
    });
    return width;
}

std::optional<InkExtent> ink_extent(Font& font, std::string_view text, float size)
{
    FontData& data = *font.data;
    lay_out(data, text, size, LayoutBox{});
    std::optional<InkExtent> extent;
    for_each_box(data, [&](const GlyphBox& box) {
        if (box.width == 0 || box.height == 0) return;
        const float bottom = box.y + static_cast<float>(box.height);
        if (!extent) {
            extent = InkExtent{box.y, bottom};
        } else {
            extent->top = std::min(extent->top, box.y);
            extent->bottom = std::max(extent->bottom, bottom);
        }
    });
    return extent;
}

namespace {

// A character's advance in font units as the font's tables give it, before shaping. Marks and
// format and control characters count nothing: shaping gives them no advance of their own.
double nominal_advance(FT_Face face, hb_unicode_funcs_t* unicode, char32_t code)
{
    switch (hb_unicode_general_category(unicode, code)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_FORMAT:
    case HB_UNICODE_GENERAL_CATEGORY_CONTROL: return 0;
    default: break;
    }
    FT_Fixed advance = 0;
    if (FT_Get_Advance(face, FT_Get_Char_Index(face, code), FT_LOAD_NO_SCALE, &advance) != 0)
        return 0;
    return static_cast<double>(advance);
}

} // namespace

// However long the text, the face scales it down until all of it is at most max_width pixels
// wide. If its characters' advances add up to more than max_width times the font's widest
// advance, a font unit then comes to less than 1/widest of a pixel, so every glyph is narrower
// than a pixel: nothing of the text can be read, however much more of it follows. The cut
// comes only at twice that sum, since shaping can make a line narrower than its characters'
// own advances (kerning, ligatures, joined Arabic forms): a text that can be read at all is
// never cut and is drawn exactly as it would be whole. Lines after a hard break stack
// downwards and leave the window well before that. Marks and format characters add nothing
// to the sum; their number is bounded on its own, at 16 per pixel of width.
std::string_view legible_prefix(Font& font, std::string_view text, float max_width)
{
    const FT_Face face = font.data->face.get();
    const double pixels = std::max(static_cast<double>(max_width), 1.0);
    const double budget =
        2.0 * pixels * std::max(static_cast<double>(face->max_advance_width), 1.0);
    const double most_characters = 16.0 * pixels;
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    double total = 0;
    double characters = 0;
    for (std::size_t position = 0; position < text.size();) {
        if (total > budget || characters >= most_characters) return text.substr(0, position);
        const DecodedChar decoded = decode_utf8_at(text, position);
        total += nominal_advance(face, unicode, decoded.code);
        characters += 1;
        position += decoded.length;
    }
    return text;
}

void draw_text(PixelBuffer& buffer, Font& font, std::string_view text, float size, float x, float y,
               float max_width, TextAlign align, Rgb color)
{
    FontData& data = *font.data;
    lay_out(data, text, size, LayoutBox{x, y, max_width, true, align});
    start_memo(data);
    // Glyph edges repeat the same few coverage values over and over: each one's pixel is
    // worked out once per call, not once per pixel.
    std::array<StoredPixel, 256> shades{};
    std::bitset<256> shaded;
    for (const PlacedGlyph& glyph : data.placed) {
        const GlyphBoxMemo* memo = rendered_glyph(data, glyph.glyph);
        if (memo == nullptr) continue;
        const std::int32_t left = pixel_index(glyph.origin_x + static_cast<float>(memo->left));
        const std::int32_t top = pixel_index(glyph.baseline_y - static_cast<float>(memo->top));
        for (unsigned r = 0; r < memo->rows; ++r) {
            const unsigned char* row =
                data.coverage.data() + memo->coverage + std::size_t{r} * memo->width;
            const std::int64_t pixel_y = static_cast<std::int64_t>(top) + r;
            if (pixel_y < 0 || pixel_y >= buffer.height) continue;
            for (unsigned c = 0; c < memo->width; ++c) {
                const unsigned char coverage = row[c];
                if (coverage == 0) continue;
                const std::int64_t pixel_x = static_cast<std::int64_t>(left) + c;
                if (pixel_x < 0 || pixel_x >= buffer.width) continue;
                if (!shaded[coverage]) {
                    shades[coverage] =
                        stored_pixel(buffer, color, static_cast<float>(coverage) / 255.0f);
                    shaded.set(coverage);
                }
                store_pixel(buffer, static_cast<std::uint32_t>(pixel_x),
                            static_cast<std::uint32_t>(pixel_y), shades[coverage]);
            }
        }
    }
}

} // namespace kd
