#include "face/text_shaping.hpp"

#include "base/utf8.hpp"

#include <algorithm>

namespace kd {

namespace {

// What can make a line anything but one left-to-right run: right-to-left letters, Arabic
// numbers, and the explicit embeddings, overrides and isolates. Nothing below U+0590 is such.
bool steers_direction(char32_t code)
{
    if (code < 0x0590) return false;
    constexpr auto STEERING = static_cast<FriBidiCharType>(
        FRIBIDI_MASK_RTL | FRIBIDI_MASK_ARABIC | FRIBIDI_MASK_EXPLICIT | FRIBIDI_MASK_ISOLATE);
    return (fribidi_get_bidi_type(code) & STEERING) != 0;
}

// Resolves the bidirectional levels of the line into line.levels, per character of
// line.character_starts. False when the whole line is one left-to-right run, which is settled
// without FriBidi.
bool resolve_levels(ShapedLine& line, std::string_view text)
{
    bool steered = false;
    for (std::size_t i = 0; i < text.size() && !steered;) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const DecodedChar decoded = decode_utf8_at(text, i);
        steered = steers_direction(decoded.code);
        i += decoded.length;
    }
    if (!steered) return false;

    line.characters.clear();
    line.character_starts.clear();
    for (std::size_t i = 0; i < text.size();) {
        const DecodedChar decoded = decode_utf8_at(text, i);
        line.characters.push_back(decoded.code);
        line.character_starts.push_back(i);
        i += decoded.length;
    }
    const auto count = static_cast<FriBidiStrIndex>(line.characters.size());
    line.bidi_types.resize(line.characters.size());
    line.bracket_types.resize(line.characters.size());
    line.levels.resize(line.characters.size());
    fribidi_get_bidi_types(line.characters.data(), count, line.bidi_types.data());
    fribidi_get_bracket_types(line.characters.data(), count, line.bidi_types.data(),
                              line.bracket_types.data());
    FriBidiParType base = FRIBIDI_PAR_LTR;
    // 0 means FriBidi failed (out of memory): the line is then drawn as one left-to-right run.
    return fribidi_get_par_embedding_levels_ex(line.bidi_types.data(), line.bracket_types.data(),
                                               count, &base, line.levels.data()) != 0;
}

// Shapes text[start, start + length) in one direction and appends its glyphs in reading order.
void shape_run(ShapedLine& line, hb_font_t* shaper, hb_buffer_t* buffer, std::string_view text,
               std::size_t start, std::size_t length, FriBidiLevel level)
{
    hb_buffer_clear_contents(buffer);
    hb_buffer_add_utf8(buffer, text.data(), static_cast<int>(text.size()),
                       static_cast<unsigned>(start), static_cast<int>(length));
    hb_buffer_set_direction(buffer, (level & 1) != 0 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(shaper, buffer, nullptr, 0);

    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    const std::size_t first = line.glyphs.size();
    for (unsigned i = 0; i < count; ++i) {
        line.glyphs.push_back(ShapedGlyph{infos[i].codepoint, infos[i].cluster,
                                          static_cast<float>(positions[i].x_advance) / 64.0f,
                                          static_cast<float>(positions[i].x_offset) / 64.0f,
                                          static_cast<float>(positions[i].y_offset) / 64.0f,
                                          level});
    }
    // HarfBuzz hands a right-to-left run over in display order; lines are broken in reading
    // order, and FriBidi turns the run back when its line is shown.
    if ((level & 1) != 0)
        std::reverse(line.glyphs.begin() + static_cast<std::ptrdiff_t>(first), line.glyphs.end());
}

} // namespace

void shape_line(ShapedLine& line, hb_font_t* shaper, hb_buffer_t* buffer, std::string_view text,
                std::size_t start, std::size_t length)
{
    line.glyphs.clear();
    line.start = start;
    line.bidirectional = resolve_levels(line, text.substr(start, length));
    if (!line.bidirectional) {
        shape_run(line, shaper, buffer, text, start, length, 0);
        return;
    }
    const std::size_t count = line.characters.size();
    for (std::size_t first = 0; first < count;) {
        std::size_t next = first + 1;
        while (next < count && line.levels[next] == line.levels[first])
            ++next;
        const std::size_t from = line.character_starts[first];
        const std::size_t to = next < count ? line.character_starts[next] : length;
        shape_run(line, shaper, buffer, text, start + from, to - from, line.levels[first]);
        first = next;
    }
}

// FriBidi reorders the glyphs as the characters they stand for: each glyph takes the
// bidirectional type of the character its cluster starts with, and the level of its run. Its
// line rules then put trailing white space back at the base level and turn every stretch
// around as its levels say.
const std::vector<FriBidiStrIndex>& display_order(ShapedLine& line, std::size_t begin,
                                                  std::size_t end)
{
    std::vector<FriBidiStrIndex>& order = line.display_order;
    order.clear();
    for (std::size_t i = begin; i < end; ++i)
        order.push_back(static_cast<FriBidiStrIndex>(i));
    if (!line.bidirectional || begin == end) return order;

    line.glyph_types.clear();
    line.glyph_levels.clear();
    for (std::size_t i = begin; i < end; ++i) {
        const ShapedGlyph& glyph = line.glyphs[i];
        const auto starts_after = std::upper_bound(
            line.character_starts.begin(), line.character_starts.end(), glyph.cluster - line.start);
        const auto character =
            static_cast<std::size_t>(starts_after - line.character_starts.begin()) - 1;
        line.glyph_types.push_back(line.bidi_types[character]);
        line.glyph_levels.push_back(glyph.level);
    }
    const auto count = static_cast<FriBidiStrIndex>(end - begin);
    // 0 means FriBidi failed: the line is then shown as read.
    if (fribidi_reorder_line(0, line.glyph_types.data(), count, 0, FRIBIDI_PAR_LTR,
                             line.glyph_levels.data(), nullptr, order.data()) == 0) {
        for (std::size_t i = begin; i < end; ++i)
            order[i - begin] = static_cast<FriBidiStrIndex>(i);
    }
    return order;
}

} // namespace kd
