#include "base/file_writing.hpp"

#include "base/descriptor.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace kd {

namespace {

std::unexpected<Error> failed(int error_number)
{
    return std::unexpected(os_error(error_number));
}

std::string parent_directory(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_name(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

std::string in_directory(const std::string& directory, const std::string& name)
{
    if (directory.empty()) return name;
    return (directory == "/" ? "/" : directory + "/") + name;
}

// "newdir/", "." or "..": a plain write would find a directory there, so nothing is made.
bool names_a_directory(const std::string& path)
{
    const std::string name = base_name(path);
    return name.empty() || name == "." || name == "..";
}

// What a plain write would refuse before looking at the disk: no path, or a directory's.
std::expected<void, Error> check_names_a_file(const std::string& path)
{
    if (path.empty()) return failed(ENOENT);
    if (names_a_directory(path)) return failed(EISDIR);
    return {};
}

// mkdir -p with mode 0777 as reduced by the umask; directories that exist are fine.
std::expected<void, Error> create_directories(const std::string& directory)
{
    if (directory.empty()) return {};
    struct stat status{};
    if (::stat(directory.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) return {};
        return failed(ENOTDIR);
    }
    if (errno != ENOENT) return failed(errno);
    if (auto parent = create_directories(parent_directory(directory)); !parent) return parent;
    if (::mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) return failed(errno);
    return {};
}

// Follows symbolic links to the file that really holds the text, so that a symlinked file
// (dotfile managers) keeps its link. A dangling link gives the path it points at.
std::expected<std::string, Error> resolve_links(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status{};
        if (::lstat(path.c_str(), &status) != 0) {
            if (errno == ENOENT) return path;
            return failed(errno);
        }
        if (!S_ISLNK(status.st_mode)) return path;
        std::string target(4096, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) return failed(errno);
        if (static_cast<std::size_t>(length) >= target.size()) return failed(ENAMETOOLONG);
        target.resize(static_cast<std::size_t>(length));
        path = target.starts_with('/') ? target : in_directory(parent_directory(path), target);
    }
    return failed(ELOOP);
}

// The file that really holds the text (links followed), its parent directories made.
std::expected<std::string, Error> prepare_target(const std::string& path)
{
    std::expected<std::string, Error> target = resolve_links(path);
    if (!target) return target;
    if (names_a_directory(*target)) return failed(EISDIR);
    if (auto created = create_directories(parent_directory(*target)); !created)
        return std::unexpected(created.error());
    return target;
}

mode_t new_file_mode()
{
    // Reading the umask back means setting it; the program is single-threaded here.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

std::expected<void, Error> write_all(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return failed(errno);
        if (written == 0) return failed(EIO);
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

// Closes a file just written: the close may be the first to report that the write failed.
std::expected<void, Error> close_written(Descriptor& file)
{
    if (::close(std::exchange(file.fd, -1)) != 0) return failed(errno);
    return {};
}

// Something that exists but is not a regular file (a device, a FIFO) cannot be replaced by a
// rename without destroying it; the text is written into it instead.
std::expected<void, Error> write_into_special_file(const std::string& path, std::string_view text)
{
    const Descriptor file(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.fd < 0) return failed(errno);
    const int flags = ::fcntl(file.fd, F_GETFL);
    if (flags < 0 || ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return failed(errno);
    return write_all(file.fd, text);
}

// The file itself, opened with the given flags and written whole: what a plain write does.
std::expected<void, Error> write_in_place(const std::string& path, std::string_view text, int flags)
{
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | flags, 0666));
    if (file.fd < 0) return failed(errno);
    std::expected<void, Error> result = write_all(file.fd, text);
    if (result && ::fsync(file.fd) != 0 && errno != EINVAL) result = failed(errno);
    if (auto closed = close_written(file); !closed && result) result = closed;
    return result;
}

// A file made in place only where none is: true when it was made, false when one was there.
std::expected<bool, Error> create_in_place_if_absent(const std::string& target,
                                                     std::string_view text)
{
    const auto written = write_in_place(target, text, O_CREAT | O_EXCL);
    if (written) return true;
    if (written.error().error_number == EEXIST) return false;
    return std::unexpected(written.error());
}

// Where a temporary file cannot be made beside the target (a directory the user may not
// write, a name with no room for the suffix) the file itself can still be written. Not for a
// full disk: truncating there could lose the old text as well.
bool no_room_for_temporary(const Error& error)
{
    const int error_number = error.error_number;
    return error_number == EACCES || error_number == EPERM || error_number == EROFS ||
           error_number == ENAMETOOLONG;
}

// Makes a rename or link itself durable; a failure here no longer endangers any data.
void sync_directory_of(const std::string& target)
{
    const std::string directory = parent_directory(target);
    const Descriptor file(
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (file.fd >= 0) ::fsync(file.fd);
}

std::expected<void, Error> replace_regular_file(const std::string& target, std::string_view text)
{
    struct stat old_status{};
    const bool exists = ::stat(target.c_str(), &old_status) == 0;
    // The rename would replace a file that the user may not write; refuse as opening it would.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return failed(errno);
    const mode_t mode = exists ? (old_status.st_mode & 07777) : new_file_mode();
    const std::optional<FileOwner> owner =
        exists ? std::optional(FileOwner{old_status.st_uid, old_status.st_gid}) : std::nullopt;

    std::expected<TemporaryFile, Error> temporary = write_temporary_file(target, text, mode, owner);
    if (!temporary) {
        if (!no_room_for_temporary(temporary.error())) return std::unexpected(temporary.error());
        return write_in_place(target, text, O_CREAT | O_TRUNC);
    }
    if (auto published = publish_replacing(std::move(*temporary), target); !published)
        return published;
    sync_directory_of(target);
    return {};
}

} // namespace

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept
{
    if (this != &other) {
        remove();
        path = std::move(other.path);
        other.path.clear();
    }
    return *this;
}

void TemporaryFile::remove()
{
    if (!path.empty()) ::unlink(path.c_str());
    path.clear();
}

std::expected<TemporaryFile, Error> write_temporary_file(const std::string& target,
                                                         std::string_view text, mode_t mode,
                                                         std::optional<FileOwner> owner)
{
    std::string name = in_directory(parent_directory(target), "." + base_name(target) + ".XXXXXX");
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return failed(errno);
    TemporaryFile temporary(std::move(name));
    Descriptor file(fd); // closed before the temporary file is removed, on a way out
    if (owner && owner->user != ::geteuid()) {
        // Best effort: root rewriting a user's file should not take it over.
        [[maybe_unused]] const int ignored = ::fchown(file.fd, owner->user, owner->group);
    }
    if (::fchmod(file.fd, mode) != 0) return failed(errno);
    if (auto written = write_all(file.fd, text); !written) return std::unexpected(written.error());
    if (::fsync(file.fd) != 0) return failed(errno);
    if (auto closed = close_written(file); !closed) return std::unexpected(closed.error());
    return temporary;
}

std::expected<void, Error> publish_replacing(TemporaryFile temporary, const std::string& target)
{
    if (::rename(temporary.path.c_str(), target.c_str()) != 0) return failed(errno);
    temporary.path.clear(); // its name is the target's now
    return {};
}

std::expected<bool, Error>
publish_without_replacing(TemporaryFile temporary, const std::string& target, std::string_view text)
{
    if (::renameat2(AT_FDCWD, temporary.path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
        0) {
        temporary.path.clear();
        return true;
    }
    int error_number = errno;
    // File systems (and kernels) without the flag: a hard link never replaces either, and the
    // temporary name goes as the temporary file does.
    if (error_number == EINVAL || error_number == ENOSYS || error_number == EOPNOTSUPP) {
        if (::link(temporary.path.c_str(), target.c_str()) == 0) return true;
        error_number = errno;
        if (error_number == EPERM || error_number == EOPNOTSUPP || error_number == ENOSYS) {
            // Nor hard links: an exclusive create, written in place.
            temporary.remove();
            return create_in_place_if_absent(target, text);
        }
    }
    if (error_number == EEXIST) return false;
    return failed(error_number);
}

std::expected<void, Error> replace_file(const std::string& path, std::string_view text)
{
    if (auto usable = check_names_a_file(path); !usable) return usable;
    struct stat status{};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        if (S_ISDIR(status.st_mode)) return failed(EISDIR);
        return write_into_special_file(path, text);
    }
    const std::expected<std::string, Error> target = prepare_target(path);
    if (!target) return std::unexpected(target.error());
    return replace_regular_file(*target, text);
}

std::expected<bool, Error> create_file_if_absent(const std::string& path, std::string_view text)
{
    if (auto usable = check_names_a_file(path); !usable) return std::unexpected(usable.error());
    struct stat status{};
    if (::stat(path.c_str(), &status) == 0) return false;
    const std::expected<std::string, Error> target = prepare_target(path);
    if (!target) return std::unexpected(target.error());

    std::expected<TemporaryFile, Error> temporary =
        write_temporary_file(*target, text, new_file_mode());
    if (!temporary) {
        if (!no_room_for_temporary(temporary.error())) return std::unexpected(temporary.error());
        return create_in_place_if_absent(*target, text);
    }
    const std::expected<bool, Error> published =
        publish_without_replacing(std::move(*temporary), *target, text);
    if (published && *published) sync_directory_of(*target);
    return published;
}

} // namespace kd
