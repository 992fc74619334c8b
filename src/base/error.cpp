#include "base/error.hpp"

#include "base/utf8.hpp"

#include <cstdio>
#include <cstring>

namespace kd {

std::string os_error_text(int error_number)
{
    return std::string(std::strerror(error_number)) + " (os error " + std::to_string(error_number) +
           ")";
}

Error os_error(int error_number)
{
    return Error{Error::Kind::Description, os_error_text(error_number), error_number};
}

namespace {

struct CodeRange {
    char32_t first;
    char32_t last;
};

// Characters that would be invisible, move the cursor or reorder text on a terminal:
// controls, separators other than the plain blank, format characters, private use and
// noncharacters.
constexpr CodeRange NON_PRINTABLE[] = {
    {0x00, 0x1F},        {0x7F, 0x9F},       {0xA0, 0xA0},       {0xAD, 0xAD},
    {0x600, 0x605},      {0x61C, 0x61C},     {0x6DD, 0x6DD},     {0x70F, 0x70F},
    {0x890, 0x891},      {0x8E2, 0x8E2},     {0x1680, 0x1680},   {0x180E, 0x180E},
    {0x2000, 0x200F},    {0x2028, 0x202F},   {0x205F, 0x2064},   {0x2066, 0x206F},
    {0x3000, 0x3000},    {0xE000, 0xF8FF},   {0xFDD0, 0xFDEF},   {0xFEFF, 0xFEFF},
    {0xFFF9, 0xFFFB},    {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F},
    {0x1BCA0, 0x1BCA3},  {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
    {0xF0000, 0x10FFFF},
};

bool is_printable(char32_t code)
{
    if ((code & 0xFFFE) == 0xFFFE) return false; // U+xFFFE and U+xFFFF of every plane
    for (const CodeRange& range : NON_PRINTABLE)
        if (code >= range.first && code <= range.last) return false;
    return true;
}

} // namespace

std::string quote_message(std::string_view message)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < message.size();) {
        const DecodedChar decoded = decode_utf8_at(message, i);
        const std::string_view bytes = message.substr(i, decoded.length);
        i += decoded.length;
        // Malformed bytes are shown as U+FFFD, which is printable.
        if (!decoded.valid) {
            append_utf8(out, REPLACEMENT_CHARACTER);
            continue;
        }
        switch (decoded.code) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case 0: out += "\\0"; break;
        default:
            if (is_printable(decoded.code)) {
                out.append(bytes);
            } else {
                char escaped[16];
                std::snprintf(escaped, sizeof escaped, "\\u{%x}",
                              static_cast<unsigned>(decoded.code));
                out += escaped;
            }
        }
    }
    out += '"';
    return out;
}

std::string error_line(const Error& error)
{
    const std::string shown = error.kind == Error::Kind::Message ? quote_message(error.text)
                                                                 : replace_invalid_utf8(error.text);
    return "Error: " + shown + "\n";
}

} // namespace kd
