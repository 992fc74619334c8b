#pragma once
// Writing a whole file so that a reader sees the old text or the new one, never a truncated
// mix, and so that a failure leaves no stray file behind. Errors are the system's.

#include "base/error.hpp"

#include <sys/types.h>

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kd {

// Replaces the file at path with text: the text goes to a temporary file beside it, is synced,
// and is renamed over it with the old file's mode and owner (a new file gets 0666 less the
// umask). Symbolic links are followed to the file that holds the text, so a link stays a
// link, and missing parent directories are made (0777 less the umask). Where no temporary file
// can be made beside the target (a directory the user may not write, a name with no room for
// the suffix) the file itself is written in place; never on a full disk, where truncating could
// lose the old text as well. A FIFO or device is written into, not replaced. It fails where a
// plain write would: an empty path, a directory, a file the user may not write.
std::expected<void, Error> replace_file(const std::string& path, std::string_view text);

// As replace_file, but the text is put only where no file is: true when it was put there, false
// when a file was there first or appeared while the text was being written (that file is left
// alone).
std::expected<bool, Error> create_file_if_absent(const std::string& path, std::string_view text);

// The steps of both.

// A file made beside a target to take its place. It is unlinked when it goes out of scope
// unless it was published under the target's name, so no way out leaves it behind.
struct TemporaryFile {
    std::string path; // empty once published or removed

    explicit TemporaryFile(std::string made = {}) : path(std::move(made)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    TemporaryFile(TemporaryFile&& other) noexcept : path(std::move(other.path))
    {
        other.path.clear();
    }
    TemporaryFile& operator=(TemporaryFile&& other) noexcept;
    ~TemporaryFile() { remove(); }
    void remove();
};

struct FileOwner {
    uid_t user;
    gid_t group;
};

// The text in a new file named ".NAME.XXXXXX" beside target (NAME being target's), with mode
// and, as far as the system lets us, owner; synced and closed.
std::expected<TemporaryFile, Error> write_temporary_file(const std::string& target,
                                                         std::string_view text, mode_t mode,
                                                         std::optional<FileOwner> owner = {});

// Renames the temporary file over target.
std::expected<void, Error> publish_replacing(TemporaryFile temporary, const std::string& target);

// Gives the temporary file (holding text) the name target only where no file is: true when it
// was put there, false when a file was there. Where the file system can neither rename without
// replacing nor link, the text is written to target with an exclusive create instead.
std::expected<bool, Error> publish_without_replacing(TemporaryFile temporary,
                                                     const std::string& target,
                                                     std::string_view text);

} // namespace kd
