#include "main/line_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kd {

namespace {

using Steady = std::chrono::steady_clock;

// Lines, a last one without its line feed included.
std::size_t line_count(std::string_view text)
{
    const auto ended = static_cast<std::size_t>(std::ranges::count(text, '\n'));
    return ended + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

std::string dropped_notice(std::size_t lines)
{
    return "kestrelDial: " + std::to_string(lines) + (lines == 1 ? " line" : " lines") +
           " dropped while standard error was not being read\n";
}

} // namespace

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

void LineWriter::limit_waiting(std::chrono::milliseconds patience)
{
    patience_ = patience;
    if (route_ != Route::Blocking) return;
    struct stat status{};
    if (::fstat(descriptor_, &status) != 0 || S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)) {
        route_ = Route::Plain;
    } else if (S_ISSOCK(status.st_mode)) {
        route_ = Route::Socket;
    } else {
        // A pipe, FIFO or terminal opened anew is an open file of our own, whose O_NONBLOCK
        // nobody else sees. Without /proc, or a FIFO that has lost its reader, poll says when
        // there is room, though a click command may take it first.
        const std::string path = "/proc/self/fd/" + std::to_string(descriptor_);
        own_ = Descriptor(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        route_ = own_.fd >= 0 ? Route::OwnDescription : Route::Polled;
    }
}

void LineWriter::write_front(std::size_t length)
{
    const std::string_view text(pending_.data(), length);
    if (route_ == Route::Blocking) {
        write_blocking(text);
    } else if (!text.empty()) {
        write_or_drop(text);
    }
    pending_.erase(0, length);
}

void LineWriter::write_blocking(std::string_view text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(descriptor_, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        // A closed standard error must not make the clock hoard its lines.
        if (written <= 0) break;
        done += static_cast<std::size_t>(written);
    }
}

ssize_t LineWriter::write_once(std::string_view text)
{
    switch (route_) {
    case Route::Socket:
        return ::send(descriptor_, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    case Route::OwnDescription: return ::write(own_.fd, text.data(), text.size());
    case Route::Polled: {
        // Room, or a reader gone (the write then fails at once); anything else waits.
        pollfd room{descriptor_, POLLOUT, 0};
        if (::poll(&room, 1, 0) != 1) {
            errno = EAGAIN;
            return -1;
        }
        return ::write(descriptor_, text.data(), text.size());
    }
    case Route::Blocking:
    case Route::Plain: break;
    }
    return ::write(descriptor_, text.data(), text.size());
}

bool LineWriter::wait_for_room(Steady::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now());
    if (left.count() <= 0) return false;
    pollfd room{route_ == Route::OwnDescription ? own_.fd : descriptor_, POLLOUT, 0};
    const int ready = ::poll(&room, 1, static_cast<int>(left.count()));
    // EINTR counts as room: the next attempt looks again.
    return ready > 0 ? (room.revents & POLLOUT) != 0 : ready < 0 && errno == EINTR;
}

std::size_t LineWriter::write_within(std::string_view text, Steady::time_point deadline)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write_once(text.substr(done));
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        const bool again =
            written < 0 && (errno == EINTR || (errno == EAGAIN && wait_for_room(deadline)));
        if (!again) break;
    }
    return done;
}

void LineWriter::write_or_drop(std::string_view text)
{
    const auto deadline = Steady::now() + patience_;
    // The rest of a line begun earlier goes first: anything else would continue that line.
    if (!owed_.empty()) {
        owed_.erase(0, write_within(owed_, deadline));
        if (!owed_.empty()) {
            dropped_lines_ += line_count(text);
            return;
        }
    }
    if (dropped_lines_ > 0) {
        const std::string notice = dropped_notice(dropped_lines_);
        const std::size_t done = write_within(notice, deadline);
        if (done == 0) {
            dropped_lines_ += line_count(text);
            return;
        }
        dropped_lines_ = 0;
        if (done < notice.size()) {
            owed_ = notice.substr(done);
            dropped_lines_ = line_count(text);
            return;
        }
    }
    const std::size_t done = write_within(text, deadline);
    if (done == text.size()) return;
    // A line that went out in part is finished later; the lines after it are dropped.
    std::size_t line_end = done;
    if (done > 0 && text[done - 1] != '\n') {
        const std::size_t newline = text.find('\n', done);
        line_end = newline == std::string_view::npos ? text.size() : newline + 1;
    }
    owed_ = text.substr(done, line_end - done);
    dropped_lines_ += line_count(text.substr(line_end));
}

} // namespace kd
