#pragma once
// UTF-8 decoding for texts that come from outside (arguments, files, tool output) and may be
// malformed.

#include <cstddef>
#include <string>
#include <string_view>

namespace kd {

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

struct DecodedChar {
    char32_t code = 0;      // REPLACEMENT_CHARACTER when not valid
    std::size_t length = 1; // bytes consumed; an invalid sequence is its longest valid prefix
    bool valid = false;
};

// The character that starts at text[position] (position < text.size()).
DecodedChar decode_utf8_at(std::string_view text, std::size_t position);

bool is_valid_utf8(std::string_view text);

// The text with every malformed sequence replaced by U+FFFD.
std::string replace_invalid_utf8(std::string_view text);

// The start of the text with at most `most_characters` characters, cut between characters.
std::string_view utf8_prefix(std::string_view text, std::size_t most_characters);

// Appends the UTF-8 encoding of code.
void append_utf8(std::string& out, char32_t code);

} // namespace kd
