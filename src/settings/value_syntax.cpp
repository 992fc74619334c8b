#include "settings/value_syntax.hpp"

#include "base/utf8.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace kd {

namespace {

bool is_unicode_white_space(char32_t code)
{
    return (code >= 0x09 && code <= 0x0D) || code == 0x20 || code == 0x85 || code == 0xA0 ||
           code == 0x1680 || (code >= 0x2000 && code <= 0x200A) || code == 0x2028 ||
           code == 0x2029 || code == 0x202F || code == 0x205F || code == 0x3000;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool all_digits(std::string_view text)
{
    for (char c : text)
        if (!is_digit(c)) return false;
    return true;
}

// An optional '+' or '-', then one or more digits, fitting a signed 32-bit integer.
std::optional<std::int32_t> parse_int32(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !all_digits(text)) return std::nullopt;
    std::int64_t value = 0;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    for (char c : text) {
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string_view trim(std::string_view text)
{
    std::size_t begin = 0;
    while (begin < text.size()) {
        const DecodedChar decoded = decode_utf8_at(text, begin);
        if (!decoded.valid || !is_unicode_white_space(decoded.code)) break;
        begin += decoded.length;
    }
    // Walk forward remembering where the last non-blank character ended; multi-byte
    // characters cannot be decoded backwards safely in malformed text.
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        const DecodedChar decoded = decode_utf8_at(text, i);
        i += decoded.length;
        if (!decoded.valid || !is_unicode_white_space(decoded.code)) end = i;
    }
    return text.substr(begin, end - begin);
}

std::optional<std::uint64_t> parse_unsigned(std::string_view text)
{
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || !all_digits(text)) return std::nullopt;
    std::uint64_t value = 0;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::uint64_t> parse_size(std::string_view text)
{
    const std::optional<std::uint64_t> value = parse_unsigned(text);
    if (!value || *value < MIN_SIZE || *value > MAX_SIZE) return std::nullopt;
    return value;
}

std::optional<Rgb> parse_color(std::string_view text)
{
    std::uint8_t components[3] = {};
    std::size_t count = 0;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view piece = trim(text.substr(0, comma));
        if (count == 3) return std::nullopt;
        const std::optional<std::uint64_t> value = parse_unsigned(piece);
        if (!value || *value > 255) return std::nullopt;
        components[count++] = static_cast<std::uint8_t>(*value);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (count != 3) return std::nullopt;
    return Rgb{components[0], components[1], components[2]};
}

std::string format_color(Rgb color)
{
    return std::to_string(color.red) + ", " + std::to_string(color.green) + ", " +
           std::to_string(color.blue);
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, {}, ascii_lower, ascii_lower);
}

bool is_zenburn(std::string_view theme)
{
    return equals_ignoring_ascii_case(theme, "zenburn");
}

void apply_theme(Settings& settings, bool color_set, bool dim_color_set)
{
    if (!settings.theme || !is_zenburn(*settings.theme)) return;
    if (!color_set) settings.color = ZENBURN_COLOR;
    if (!dim_color_set) settings.dim_color = ZENBURN_DIM_COLOR;
}

std::optional<std::int32_t> parse_utc_offset(std::string_view text)
{
    text = trim(text);
    for (std::string_view prefix : {"UTC", "utc", "GMT", "gmt"}) {
        if (text.starts_with(prefix)) {
            text = trim(text.substr(prefix.size()));
            break;
        }
    }
    if (text.empty()) return std::nullopt;

    int sign = 1;
    if (text.front() == '+' || text.front() == '-') {
        sign = text.front() == '-' ? -1 : 1;
        text.remove_prefix(1);
        if (text.empty()) return std::nullopt;
    }

    std::string_view hours_text = text;
    std::string_view minutes_text = "0";
    if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        hours_text = text.substr(0, colon);
        minutes_text = text.substr(colon + 1);
    } else if (text.size() == 4 && all_digits(text)) {
        hours_text = text.substr(0, 2);
        minutes_text = text.substr(2);
    }

    const std::optional<std::int32_t> hours = parse_int32(hours_text);
    const std::optional<std::int32_t> minutes = parse_int32(minutes_text);
    if (!hours || !minutes) return std::nullopt;
    if (*minutes < 0 || *minutes > 59 || *hours < 0) return std::nullopt;

    const std::int64_t magnitude = std::int64_t{*hours} * 3600 + std::int64_t{*minutes} * 60;
    if (magnitude > MAX_UTC_OFFSET) return std::nullopt;
    return static_cast<std::int32_t>(sign * magnitude);
}

std::string offset_indicator(std::int32_t offset)
{
    const char sign = offset < 0 ? '-' : '+';
    const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(offset));
    const std::int64_t hours = magnitude / 3600;
    const std::int64_t minutes = (magnitude % 3600) / 60;
    std::string text = "(";
    text += sign;
    text += std::to_string(hours);
    if (minutes != 0) {
        text += ':';
        if (minutes < 10) text += '0';
        text += std::to_string(minutes);
    }
    text += ')';
    return text;
}

std::string offset_text(std::int32_t offset)
{
    const std::string indicator = offset_indicator(offset);
    return indicator.substr(1, indicator.size() - 2);
}

namespace {

// What a label shows between the indicator's parentheses: the label, or what lies between its
// own when it is already in parentheses.
std::string_view label_inside_parentheses(std::string_view label)
{
    if (label.size() >= 2 && label.starts_with('(') && label.ends_with(')'))
        return label.substr(1, label.size() - 2);
    return label;
}

} // namespace

std::optional<std::string> face_indicator(const Settings& settings,
                                          std::size_t most_label_characters)
{
    if (settings.label) {
        const std::string_view inside = label_inside_parentheses(*settings.label);
        return "(" + std::string(utf8_prefix(inside, most_label_characters)) + ")";
    }
    if (settings.timezone) return offset_indicator(*settings.timezone);
    return std::nullopt;
}

} // namespace kd
