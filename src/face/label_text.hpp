#pragma once
// A label is the user's text inside the program's: how much of it a face shows, and how it is
// kept from steering the brackets around it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kd {

// The most characters of a label that a window `width` pixels wide shows: one for every ten
// pixels, and never fewer than 32. A label that long is drawn so small that it can hardly be
// read, and every character is shaped and measured again at each step of fitting the time
// line: past that bound a label's cost would grow with its length, and what it shows would not.
std::size_t shown_label_characters(std::uint32_t width);

// Appends the label, isolated from what surrounds it when it holds explicit direction controls
// (embeddings, overrides, isolates): each of its paragraphs between U+2066 and U+2069, every
// isolate it opens closed before that, and without the U+2069 that close nothing of its own.
// Inside, it reads as it would alone, left to right unless its controls say otherwise;
// outside, nothing it began goes on. The controls added count with the label's own
// characters towards `most_characters`: the label is cut short to leave room for them.
// Without such controls it is appended as it is.
void append_isolated_label(std::string& out, std::string_view label, std::size_t most_characters);

// The time's suffix as a window `width` pixels wide draws it: of " (label)", the blank and
// the parentheses whole, and between them the label's start, isolated.
std::string shown_suffix(std::string_view suffix, std::uint32_t width);

} // namespace kd
