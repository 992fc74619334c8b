#include "settings/error.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kd {

std::string os_error_text(int error_number)
{
    return std::string(std::strerror(error_number)) + " (os error " + std::to_string(error_number) +
           ")";
}

namespace {

// Decodes one UTF-8 sequence at text[i]; invalid bytes come back as themselves.
char32_t decode_utf8(std::string_view text, std::size_t& i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length <= 1 || i + static_cast<std::size_t>(length) > text.size()) {
        ++i;
        return lead;
    }
    char32_t code = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        const unsigned char next = byte(i + static_cast<std::size_t>(k));
        if ((next >> 6) != 0x2) {
            ++i;
            return lead;
        }
        code = (code << 6) | (next & 0x3F);
    }
    i += static_cast<std::size_t>(length);
    return code;
}

bool is_printable(char32_t code)
{
    if (code < 0x20 || code == 0x7F) return false;
    if (code >= 0x80 && code < 0xA0) return false;
    if (code == 0x2028 || code == 0x2029 || code == 0xFEFF) return false;
    return true;
}

} // namespace

std::string quote_message(std::string_view message)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < message.size();) {
        const std::size_t start = i;
        const char32_t code = decode_utf8(message, i);
        switch (code) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case 0: out += "\\0"; break;
        default:
            if (is_printable(code)) {
                out.append(message.substr(start, i - start));
            } else {
                char escaped[24];
                std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned>(code));
                out += escaped;
            }
        }
    }
    out += '"';
    return out;
}

std::string error_line(const Error& error)
{
    const std::string shown =
        error.kind == Error::Kind::Message ? quote_message(error.text) : error.text;
    return "Error: " + shown + "\n";
}

} // namespace kd
