#include "main/line_writer.hpp"

#include <cerrno>
#include <unistd.h>

namespace kd {

LineWriter::int_type LineWriter::overflow(int_type ch)
{
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    pending_.push_back(c);
    if (c == '\n' && !write_pending()) return traits_type::eof();
    return ch;
}

std::streamsize LineWriter::xsputn(const char* text, std::streamsize count)
{
    // A block of several lines (the help text) goes out up to its last newline in one call.
    pending_.append(text, static_cast<std::size_t>(count));
    if (pending_.find('\n') == std::string::npos) return count;
    const std::size_t end = pending_.rfind('\n') + 1;
    std::string rest = pending_.substr(end);
    pending_.resize(end);
    if (!write_pending()) return 0;
    pending_ = std::move(rest);
    return count;
}

bool LineWriter::write_pending()
{
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t written = ::write(descriptor_, pending_.data() + done, pending_.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            pending_.clear(); // a closed standard error must not make the clock hoard its lines
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    pending_.clear();
    return true;
}

} // namespace kd
