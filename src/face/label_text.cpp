#include "face/label_text.hpp"

#include "base/utf8.hpp"

#include <fribidi.h>

#include <algorithm>

namespace kd {

namespace {

constexpr char32_t LEFT_TO_RIGHT_ISOLATE = 0x2066;
constexpr char32_t POP_DIRECTIONAL_ISOLATE = 0x2069;

bool opens_isolate(FriBidiCharType type)
{
    return type == FRIBIDI_TYPE_LRI || type == FRIBIDI_TYPE_RLI || type == FRIBIDI_TYPE_FSI;
}

bool is_direction_control(FriBidiCharType type)
{
    return opens_isolate(type) || type == FRIBIDI_TYPE_PDI || type == FRIBIDI_TYPE_LRE ||
           type == FRIBIDI_TYPE_RLE || type == FRIBIDI_TYPE_LRO || type == FRIBIDI_TYPE_RLO ||
           type == FRIBIDI_TYPE_PDF;
}

bool has_direction_controls(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        // Every control lies above U+2000: ASCII steers nothing.
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const DecodedChar decoded = decode_utf8_at(text, i);
        if (is_direction_control(fribidi_get_bidi_type(decoded.code))) return true;
        i += decoded.length;
    }
    return false;
}

} // namespace

std::size_t shown_label_characters(std::uint32_t width)
{
    return std::max<std::size_t>(32, width / 10);
}

namespace {

// The label being copied into its isolate, and how much of the character budget it has used.
struct Isolation {
    std::string& out;
    std::size_t most_characters;
    bool isolating = false;
    std::size_t open_isolates = 0; // the label's own, still to be closed
    std::size_t characters = 0;
};

void close_isolation(Isolation& isolation)
{
    if (!isolation.isolating) return;
    for (std::size_t i = 0; i <= isolation.open_isolates; ++i)
        append_utf8(isolation.out, POP_DIRECTIONAL_ISOLATE);
    isolation.characters += isolation.open_isolates + 1;
    isolation.isolating = false;
    isolation.open_isolates = 0;
}

// Copies one character of the label; false when the budget has no room for it and the isolates
// it would leave to close.
bool take_character(Isolation& isolation, std::string_view character, FriBidiCharType type)
{
    if (type == FRIBIDI_TYPE_BS) {
        close_isolation(isolation);
        if (isolation.characters + 1 > isolation.most_characters) return false;
        isolation.out += character;
        ++isolation.characters;
        return true;
    }
    // One that closes none of the label's would close the isolate around it.
    if (type == FRIBIDI_TYPE_PDI && isolation.open_isolates == 0) return true;
    // Room for the character, the isolate's start and every closing U+2069.
    const std::size_t opened = isolation.isolating ? 0 : 1;
    const std::size_t closing = isolation.open_isolates + 1 + (opens_isolate(type) ? 1 : 0);
    if (isolation.characters + opened + 1 + closing > isolation.most_characters) return false;
    if (!isolation.isolating) {
        append_utf8(isolation.out, LEFT_TO_RIGHT_ISOLATE);
        ++isolation.characters;
        isolation.isolating = true;
    }
    if (opens_isolate(type)) ++isolation.open_isolates;
    if (type == FRIBIDI_TYPE_PDI) --isolation.open_isolates;
    isolation.out += character;
    ++isolation.characters;
    return true;
}

} // namespace

// Each paragraph is isolated on its own: the shaper takes every line as a paragraph, and a
// paragraph's end ends every embedding and isolate in it, the label's own closing one too.
void append_isolated_label(std::string& out, std::string_view label, std::size_t most_characters)
{
    if (!has_direction_controls(label)) {
        out += label;
        return;
    }
    Isolation isolation{out, most_characters};
    for (std::size_t i = 0; i < label.size();) {
        const DecodedChar decoded = decode_utf8_at(label, i);
        const std::string_view character = label.substr(i, decoded.length);
        i += decoded.length;
        if (!take_character(isolation, character, fribidi_get_bidi_type(decoded.code))) break;
    }
    close_isolation(isolation);
}

std::string shown_suffix(std::string_view suffix, std::uint32_t width)
{
    if (suffix.size() < 3 || !suffix.starts_with(" (") || !suffix.ends_with(')'))
        return std::string(suffix);
    const std::size_t most_characters = shown_label_characters(width);
    const std::string_view label =
        utf8_prefix(suffix.substr(2, suffix.size() - 3), most_characters);
    std::string shown(" (");
    append_isolated_label(shown, label, most_characters);
    shown += ')';
    return shown;
}

} // namespace kd
