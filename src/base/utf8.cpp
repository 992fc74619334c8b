#include "base/utf8.hpp"

namespace kd {

namespace {

// What a lead byte starts: the sequence's length, the lead's bits of the code point, and the
// range allowed for the second byte, which is what rules out overlong forms, surrogates and
// code points above U+10FFFF. Length 0 for a byte that starts no sequence.
struct LeadByte {
    std::size_t length = 0;
    char32_t code = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
};

LeadByte read_lead(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF) return {2, lead & 0x1Fu};
    if (lead >= 0xE0 && lead <= 0xEF)
        return {3, lead & 0x0Fu, static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
                static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
    if (lead >= 0xF0 && lead <= 0xF4)
        return {4, lead & 0x07u, static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
                static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
    return {};
}

} // namespace

DecodedChar decode_utf8_at(std::string_view text, std::size_t position)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(position);
    if (lead < 0x80) return {lead, 1, true};

    const LeadByte start = read_lead(lead);
    if (start.length == 0) return {REPLACEMENT_CHARACTER, 1, false};
    char32_t code = start.code;
    for (std::size_t k = 1; k < start.length; ++k) {
        if (position + k >= text.size()) return {REPLACEMENT_CHARACTER, k, false};
        const unsigned char next = byte(position + k);
        const unsigned char low = k == 1 ? start.second_low : 0x80;
        const unsigned char high = k == 1 ? start.second_high : 0xBF;
        if (next < low || next > high) return {REPLACEMENT_CHARACTER, k, false};
        code = (code << 6) | (next & 0x3F);
    }
    return {code, start.length, true};
}

bool is_valid_utf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const DecodedChar decoded = decode_utf8_at(text, i);
        if (!decoded.valid) return false;
        i += decoded.length;
    }
    return true;
}

void append_utf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string replace_invalid_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const DecodedChar decoded = decode_utf8_at(text, i);
        if (decoded.valid)
            out.append(text.substr(i, decoded.length));
        else
            append_utf8(out, REPLACEMENT_CHARACTER);
        i += decoded.length;
    }
    return out;
}

std::string_view utf8_prefix(std::string_view text, std::size_t most_characters)
{
    std::size_t end = 0;
    for (std::size_t kept = 0; end < text.size() && kept < most_characters; ++kept)
        end += decode_utf8_at(text, end).length;
    return text.substr(0, end);
}

} // namespace kd
