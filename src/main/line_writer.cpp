#include "main/line_writer.hpp"

#include <cerrno>
#include <unistd.h>

namespace kd {

LineWriter::int_type LineWriter::overflow(int_type ch)
{
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    pending_.push_back(c);
    if (c == '\n') write_front(pending_.size());
    return ch;
}

std::streamsize LineWriter::xsputn(const char* text, std::streamsize count)
{
    // A block of several lines (the help text) goes out up to its last newline in one call.
    pending_.append(text, static_cast<std::size_t>(count));
    const std::size_t last_newline = pending_.rfind('\n');
    if (last_newline != std::string::npos) write_front(last_newline + 1);
    return count;
}

void LineWriter::write_front(std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t written = ::write(descriptor_, pending_.data() + done, length - done);
        if (written < 0 && errno == EINTR) continue;
        // A closed standard error must not make the clock hoard its lines.
        if (written <= 0) break;
        done += static_cast<std::size_t>(written);
    }
    pending_.erase(0, length);
}

} // namespace kd
