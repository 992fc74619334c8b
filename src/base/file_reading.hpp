#pragma once
// Reading a whole file into memory: only a regular file, never waiting on a FIFO or device,
// and never holding more than the caller allows.

#include "base/error.hpp"

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace kd {

struct ReadLimit {
    std::uint64_t max_bytes;
    // What the file is, for the refusal of a larger one: "{what} too large ({size} bytes, max
    // {max_bytes} bytes)".
    std::string_view what;
};

// The bytes of the regular file at path (links followed). A directory is refused with the
// system's EISDIR text, a FIFO, socket or device with "Not a regular file" before a byte is
// read, a file larger than the limit by its reported size before a byte is read, and one
// that grows past the limit while being read as soon as it does: at most max_bytes + 1 bytes
// are ever held. Every other failure is the system's error.
std::expected<std::vector<std::uint8_t>, Error> read_whole_file(const std::string& path,
                                                                ReadLimit limit);

} // namespace kd
