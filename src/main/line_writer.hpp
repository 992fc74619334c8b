#pragma once
// Standard error, one whole line per write(2), and for the running clock never a wait on a
// reader that does not read.
//
// With --background the parent's "backgrounded" line and the detached child's first lines go to
// the same descriptor at the same moment. std::cerr writes every `<<` piece on its own, so the
// pieces of two lines could interleave; whole lines below PIPE_BUF never do.
//
// A clock whose standard error is a pipe to a stalled logger, or a terminal on hold, would
// stop in write(2) with its face and its close request waiting behind the line. Once told how
// long a line may wait, the writer goes through a way of writing that cannot block (its own
// non-blocking open of the same pipe, FIFO or terminal, MSG_DONTWAIT on a socket; a regular
// file never blocks), drops what the reader does not take in that time, and says how many
// lines it dropped before the next line that goes through. The shared descriptor's flags stay
// as they are: the user's shell and the click commands write through the same open file.

#include "base/descriptor.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace kd {

class LineWriter : public std::streambuf {
  public:
    explicit LineWriter(int descriptor) : descriptor_(descriptor) {}
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;
    ~LineWriter() override { write_front(pending_.size()); }

    // From now on a write waits at most `patience` for the reader (zero: not at all); what it
    // cannot write by then is dropped and counted. Until the first call, writes wait as long
    // as the reader takes.
    void limit_waiting(std::chrono::milliseconds patience);

  protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    // An explicit flush (a prompt that waits for an answer) writes what there is, line or not.
    int sync() override
    {
        write_front(pending_.size());
        return 0;
    }

  private:
    enum class Route {
        Blocking,       // write(2) on the shared descriptor, as long as it takes
        Plain,          // write(2) on the shared descriptor, which never blocks (a file)
        OwnDescription, // write(2) on own_, a non-blocking open of the same object
        Socket,         // send(2) with MSG_DONTWAIT on the shared descriptor
        Polled,         // write(2) on the shared descriptor when poll(2) finds room
    };

    // Writes the first `length` characters held and lets them go, written or not. A failed
    // write is never reported to the stream: a stream told of one fails for good and drops
    // every later line, the final error line included.
    void write_front(std::size_t length);
    void write_blocking(std::string_view text);
    void write_or_drop(std::string_view text);
    // One attempt that does not block: what was written, or -1 with errno.
    ssize_t write_once(std::string_view text);
    // Whether the reader made room before the deadline.
    bool wait_for_room(std::chrono::steady_clock::time_point deadline);
    // How much of text the reader took by the deadline.
    std::size_t write_within(std::string_view text, std::chrono::steady_clock::time_point deadline);

    int descriptor_;
    Route route_ = Route::Blocking;
    Descriptor own_;
    std::chrono::milliseconds patience_{0};
    std::size_t dropped_lines_ = 0;
    // The rest of a line that the reader took only in part; it goes out before anything else.
    std::string owed_;
    std::string pending_;
};

} // namespace kd
