#pragma once
// Errors travel as values up to the entry, which turns one into the "Error: ..." line.

#include <string>
#include <string_view>

namespace kd {

struct Error {
    enum class Kind {
        // One of the program's own messages: shown quoted and escaped.
        Message,
        // A description from the operating system or the X library: shown as it is.
        Description,
    };
    Kind kind = Kind::Message;
    std::string text;
    // The errno value behind an error from the system, for a caller that acts on which one it
    // was or words its own message around it; 0 for every other error.
    int error_number = 0;
};

inline Error program_message(std::string text)
{
    return Error{Error::Kind::Message, std::move(text)};
}
inline Error description(std::string text)
{
    return Error{Error::Kind::Description, std::move(text)};
}

// The system's text for an errno value followed by " (os error N)".
std::string os_error_text(int error_number);

// The system's error for an errno value: a description in the words of os_error_text.
Error os_error(int error_number);

// The message in double quotes with backslash escapes for quotes, backslashes and
// non-printable characters.
std::string quote_message(std::string_view message);

// The whole line the entry writes before exiting with status 1, line feed included.
std::string error_line(const Error& error);

} // namespace kd
