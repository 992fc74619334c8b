#include "base/file_reading.hpp"

#include "base/descriptor.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kd {

namespace {

// A directory is refused as reading it would be; a FIFO, socket or device (/dev/zero never
// ends, a FIFO may never deliver) is not read at all, so reading can neither hang nor
// exhaust memory.
std::expected<void, Error> check_regular(const struct stat& status)
{
    if (S_ISDIR(status.st_mode)) return std::unexpected(os_error(EISDIR));
    if (!S_ISREG(status.st_mode)) return std::unexpected(program_message("Not a regular file"));
    return {};
}

Error too_large(std::uint64_t size, ReadLimit limit)
{
    return program_message(std::string(limit.what) + " too large (" + std::to_string(size) +
                           " bytes, max " + std::to_string(limit.max_bytes) + " bytes)");
}

} // namespace

std::expected<std::vector<std::uint8_t>, Error> read_whole_file(const std::string& path,
                                                                ReadLimit limit)
{
    struct stat metadata{};
    if (::stat(path.c_str(), &metadata) != 0) return std::unexpected(os_error(errno));
    if (auto regular = check_regular(metadata); !regular) return std::unexpected(regular.error());
    const auto reported = static_cast<std::uint64_t>(metadata.st_size);
    if (reported > limit.max_bytes) return std::unexpected(too_large(reported, limit));

    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.fd < 0) return std::unexpected(os_error(errno));
    // The path may have been replaced between the two looks.
    struct stat opened{};
    if (::fstat(file.fd, &opened) != 0) return std::unexpected(os_error(errno));
    if (auto regular = check_regular(opened); !regular) return std::unexpected(regular.error());

    // One byte more than expected, so that the end of the file is seen without a second
    // allocation; a file that grew meanwhile still stops one byte past the limit.
    const std::uint64_t held_at_most = limit.max_bytes + 1;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(
        std::min(static_cast<std::uint64_t>(opened.st_size) + 1, held_at_most)));
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > limit.max_bytes) return std::unexpected(too_large(filled, limit));
            bytes.resize(static_cast<std::size_t>(
                std::min(static_cast<std::uint64_t>(bytes.size()) * 2, held_at_most)));
        }
        const ssize_t got = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(os_error(errno));
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

} // namespace kd
