#pragma once
// Standard error, one whole line per write(2).
//
// With --background the parent's "backgrounded" line and the detached child's first lines go to
// the same descriptor at the same moment. std::cerr writes every `<<` piece on its own, so the
// pieces of two lines could interleave; whole lines below PIPE_BUF never do.

#include <streambuf>
#include <string>

namespace kd {

class LineWriter : public std::streambuf {
  public:
    explicit LineWriter(int descriptor) : descriptor_(descriptor) {}
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;
    ~LineWriter() override { write_front(pending_.size()); }

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
    // Writes the first `length` characters held and lets them go, written or not. A failed
    // write is never reported to the stream: a stream told of one fails for good and drops
    // every later line, the final error line included.
    void write_front(std::size_t length);

    int descriptor_;
    std::string pending_;
};

} // namespace kd
