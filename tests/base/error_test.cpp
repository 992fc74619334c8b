#include "base/error.hpp"

#include <gtest/gtest.h>

namespace kd {
namespace {

struct QuoteCase {
    std::string message;
    std::string quoted;
};

class QuoteMessage : public testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteMessage, EscapesWhatATerminalWouldNotShowFaithfully)
{
    EXPECT_EQ(quote_message(GetParam().message), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, QuoteMessage,
    testing::Values(QuoteCase{"No font found. Install a monospace font or use --font <path>",
                              "\"No font found. Install a monospace font or use --font <path>\""},
                    QuoteCase{"Cannot read font 'a\"b\\c'", "\"Cannot read font 'a\\\"b\\\\c'\""},
                    QuoteCase{std::string("t\tr\rn\nz\0.", 9), "\"t\\tr\\rn\\nz\\0.\""},
                    QuoteCase{"bell\x07 esc\x1b del\x7f", "\"bell\\u{7} esc\\u{1b} del\\u{7f}\""},
                    QuoteCase{"caf\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC",
                              "\"caf\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC\""},
                    // C1 control, no-break space, right-to-left override, byte order mark
                    QuoteCase{"\xC2\x85\xC2\xA0\xE2\x80\xAE\xEF\xBB\xBF",
                              "\"\\u{85}\\u{a0}\\u{202e}\\u{feff}\""},
                    // Malformed bytes, an overlong slash and an encoded surrogate become U+FFFD
                    QuoteCase{"a\xFF"
                              "b\xC0\xAF"
                              "c\xED\xA0\x80",
                              "\"a\xEF\xBF\xBD"
                              "b\xEF\xBF\xBD\xEF\xBF\xBD"
                              "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}));

TEST(ErrorLine, QuotesOwnMessagesButNotSystemDescriptions)
{
    EXPECT_EQ(error_line(program_message("Failed to parse font: bad \"head\"")),
              "Error: \"Failed to parse font: bad \\\"head\\\"\"\n");
    EXPECT_EQ(error_line(os_error(13)), "Error: Permission denied (os error 13)\n");
}

} // namespace
} // namespace kd
