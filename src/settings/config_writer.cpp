#include "settings/config_writer.hpp"

#include "base/utf8.hpp"
#include "settings/value_syntax.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kd {

namespace {

std::string active_or_commented(const std::optional<std::string>& value, std::string_view key)
{
    if (value) return std::string(key) + " = " + *value + "\n";
    return "# " + std::string(key) + " =\n";
}

// Storing stops at the first failing step with its errno value; write_config then names the
// file around the system's text.
template <typename T = void> using Stored = std::expected<T, int>;

std::unexpected<int> failed(int error_number)
{
    return std::unexpected(error_number);
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

// mkdir -p with mode 0777 as reduced by the umask; directories that exist are fine.
Stored<> create_directories(const std::string& directory)
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

// Follows symbolic links to the file that really holds the configuration, so that a
// symlinked config (dotfile managers) keeps its link. A dangling link gives the path it
// points at.
Stored<std::string> resolve_links(std::string path)
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

mode_t current_umask()
{
    // Reading it back means setting it; the program is single-threaded here.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

Stored<> write_all(int fd, std::string_view text)
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

// Something that exists but is not a regular file (a device, a FIFO) cannot be replaced
// by a rename without destroying it; the text is written into it instead.
Stored<> write_into_special_file(const std::string& path, std::string_view text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return failed(errno);
    Stored<> result;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        result = failed(errno);
    else
        result = write_all(fd, text);
    ::close(fd);
    return result;
}

// The file itself, opened with the given flags and written whole: what a plain write does.
Stored<> write_directly(const std::string& path, std::string_view text, int flags)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | flags, 0666);
    if (fd < 0) return failed(errno);
    Stored<> result = write_all(fd, text);
    if (result && ::fsync(fd) != 0 && errno != EINVAL) result = failed(errno);
    if (::close(fd) != 0 && result) result = failed(errno);
    return result;
}

// Where a temporary file cannot be made beside the target (a directory the user may not
// write, a name with no room for the suffix) the file itself can still be written. Not for a
// full disk: truncating there could lose the old text as well.
bool no_room_beside(int error_number)
{
    return error_number == EACCES || error_number == EPERM || error_number == EROFS ||
           error_number == ENAMETOOLONG;
}

// A fresh file beside target holding the whole text, on disk and closed; gives its name.
Stored<std::string> write_temporary(const std::string& target, std::string_view text, mode_t mode,
                                    const struct stat* old_status)
{
    std::string temporary =
        in_directory(parent_directory(target), "." + base_name(target) + ".XXXXXX");
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return failed(errno);
    if (old_status != nullptr && old_status->st_uid != ::geteuid()) {
        // Best effort: root rewriting a user's file should not take it over.
        [[maybe_unused]] const int ignored = ::fchown(fd, old_status->st_uid, old_status->st_gid);
    }
    int error_number = 0;
    if (auto written = ::fchmod(fd, mode) == 0 ? write_all(fd, text) : failed(errno); !written)
        error_number = written.error();
    else if (::fsync(fd) != 0)
        error_number = errno;
    if (::close(fd) != 0 && error_number == 0) error_number = errno;
    if (error_number != 0) {
        ::unlink(temporary.c_str());
        return failed(error_number);
    }
    return temporary;
}

// Makes a rename or link itself durable; a failure here no longer endangers any data.
void sync_directory(const std::string& target)
{
    const std::string directory = parent_directory(target);
    const int fd =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes the text to a fresh file beside target and renames it over target: readers see
// either the old file or the whole new one, never a truncated mix.
Stored<> replace_file(const std::string& target, std::string_view text)
{
    struct stat old_status{};
    const bool exists = ::stat(target.c_str(), &old_status) == 0;
    // The rename would replace a file that the user may not write; refuse as opening it would.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return failed(errno);
    const mode_t mode = exists ? (old_status.st_mode & 07777) : (0666 & ~current_umask());

    const Stored<std::string> temporary =
        write_temporary(target, text, mode, exists ? &old_status : nullptr);
    if (!temporary) {
        if (!no_room_beside(temporary.error())) return failed(temporary.error());
        return write_directly(target, text, O_CREAT | O_TRUNC);
    }
    if (::rename(temporary->c_str(), target.c_str()) != 0) {
        const int error_number = errno;
        ::unlink(temporary->c_str());
        return failed(error_number);
    }
    sync_directory(target);
    return {};
}

// A file made only where none is: true when it was made, false when a file was there first.
Stored<bool> create_exclusively(const std::string& target, std::string_view text)
{
    const Stored<> written = write_directly(target, text, O_CREAT | O_EXCL);
    if (written) return true;
    if (written.error() == EEXIST) return false;
    return failed(written.error());
}

// Publishes the temporary file (holding text) at target only where no file is: true when it
// was put there, false when a file was there (the temporary one is then dropped).
Stored<bool> publish_without_replacing(const std::string& temporary, const std::string& target,
                                       std::string_view text)
{
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    int error_number = errno;
    // File systems (and kernels) without the flag: a hard link never replaces either.
    if (error_number == EINVAL || error_number == ENOSYS || error_number == EOPNOTSUPP) {
        if (::link(temporary.c_str(), target.c_str()) == 0) {
            ::unlink(temporary.c_str());
            return true;
        }
        error_number = errno;
        if (error_number == EPERM || error_number == EOPNOTSUPP || error_number == ENOSYS) {
            // Nor hard links: an exclusive create, written in place.
            ::unlink(temporary.c_str());
            return create_exclusively(target, text);
        }
    }
    ::unlink(temporary.c_str());
    if (error_number == EEXIST) return false;
    return failed(error_number);
}

Stored<bool> store_new_file(const std::string& target, std::string_view text)
{
    const Stored<std::string> temporary =
        write_temporary(target, text, 0666 & ~current_umask(), nullptr);
    if (!temporary) {
        if (!no_room_beside(temporary.error())) return failed(temporary.error());
        return create_exclusively(target, text);
    }
    const Stored<bool> published = publish_without_replacing(*temporary, target, text);
    if (published && *published) sync_directory(target);
    return published;
}

// What a plain write would refuse before looking at the disk: no path, or a directory's.
Stored<> check_path(const std::string& path)
{
    if (path.empty()) return failed(ENOENT);
    if (names_a_directory(path)) return failed(EISDIR);
    return {};
}

// The file that really holds the configuration (links followed), its directories made.
Stored<std::string> prepared_target(const std::string& path)
{
    Stored<std::string> target = resolve_links(path);
    if (!target) return target;
    if (names_a_directory(*target)) return failed(EISDIR);
    if (auto created = create_directories(parent_directory(*target)); !created)
        return failed(created.error());
    return target;
}

Stored<> store(const std::string& path, std::string_view text)
{
    if (auto usable = check_path(path); !usable) return usable;
    struct stat status{};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        if (S_ISDIR(status.st_mode)) return failed(EISDIR);
        return write_into_special_file(path, text);
    }
    const Stored<std::string> target = prepared_target(path);
    if (!target) return failed(target.error());
    return replace_file(*target, text);
}

Stored<bool> store_where_no_file_is(const std::string& path, std::string_view text)
{
    if (auto usable = check_path(path); !usable) return failed(usable.error());
    struct stat status{};
    if (::stat(path.c_str(), &status) == 0) return false;
    const Stored<std::string> target = prepared_target(path);
    if (!target) return failed(target.error());
    return store_new_file(*target, text);
}

Error write_error(const std::string& path, int error_number)
{
    return description("cannot write " + replace_invalid_utf8(path) + ": " +
                       os_error_text(error_number));
}

} // namespace

std::string render_config(const Settings& s)
{
    std::string text;
    text += "# kestrelDial configuration\n";
    text += "# See: kestrelDial --help\n";
    text += "\n";
    text += "# Time format: 12h or 24h\n";
    text += s.format == TimeFormat::Hours12 ? "format = 12h\n" : "# format = 24h\n";
    text += "\n";
    text += "# Show seconds in time display\n";
    text += s.seconds ? "seconds = true\n" : "# seconds = false\n";
    text += "\n";
    text += "# Show abbreviated month name\n";
    text += s.short_month ? "short_month = true\n" : "# short_month = false\n";
    text += "\n";
    text += "# Fixed UTC offset, e.g. +4, -5, +5:30 (default: system local time).\n";
    text += "# When set, a compact indicator like (+4) is shown beside the time.\n";
    text += "# Note: a fixed offset does not follow daylight saving time.\n";
    text += s.timezone ? "timezone = " + offset_text(*s.timezone) + "\n" : "# timezone =\n";
    text += "\n";
    text += "# Custom text shown beside the date (overrides the timezone indicator).\n";
    text += active_or_commented(s.label, "label");
    text += "\n";
    text += "# Window size in pixels, 96 to 1024 (96 and 128 are the classic sizes)\n";
    text += s.size == 96 ? "# size = 96\n" : "size = " + std::to_string(s.size) + "\n";
    text += "\n";
    text += "# Font file path (leave commented for auto-detect via fontconfig)\n";
    text += "# No fallback font: Japanese/CJK text in the label needs a CJK-capable\n";
    text += "# font, e.g. /usr/share/fonts/ja-ipafonts/ipagp.ttf\n";
    text += s.font ? "font = " + *s.font + "\n" : "# font = /path/to/font.ttf\n";
    text += "\n";
    text += "# Color theme: zenburn\n";
    text += active_or_commented(s.theme, "theme");
    text += "\n";
    text += "# Main color (R, G, B)\n";
    // A zenburn theme fills in every colour the file leaves out, so a default colour kept on
    // purpose under that theme must be written out or it would come back as zenburn's.
    const bool theme_fills_colors = s.theme && is_zenburn(*s.theme);
    text += s.color == DEFAULT_COLOR && !theme_fills_colors
                ? "# color = 0, 255, 0\n"
                : "color = " + format_color(s.color) + "\n";
    text += "\n";
    text += "# Dim color (R, G, B)\n";
    text += s.dim_color == DEFAULT_DIM_COLOR && !theme_fills_colors
                ? "# dim_color = 0, 200, 0\n"
                : "dim_color = " + format_color(s.dim_color) + "\n";
    text += "\n";
    text += "# Left click command\n";
    text += active_or_commented(s.left_click, "left_click");
    text += "\n";
    text += "# Middle click command (default: reload config)\n";
    text += active_or_commented(s.middle_click, "middle_click");
    text += "\n";
    text += "# Right click command\n";
    text += active_or_commented(s.right_click, "right_click");
    text += "\n";
    text += "# Run in the background\n";
    text += s.background ? "background = true\n" : "# background = true\n";
    text += "\n";
    text += "# Show extra informational messages\n";
    text += "# verbose = false\n";
    text += "\n";
    text += "# Suppress all non-error output\n";
    text += "# quiet = false\n";
    return text;
}

std::expected<void, Error> check_writable(const Settings& settings)
{
    const std::pair<const char*, const std::optional<std::string>*> texts[] = {
        {"label", &settings.label},
        {"font", &settings.font},
        {"theme", &settings.theme},
        {"left_click", &settings.left_click},
        {"middle_click", &settings.middle_click},
        {"right_click", &settings.right_click},
    };
    for (const auto& [key, value] : texts) {
        if (!*value) continue;
        if ((*value)->find_first_of("\n\r") != std::string::npos)
            return std::unexpected(
                program_message(std::string(key) + " contains a line break; not written"));
        if (!is_valid_utf8(**value))
            return std::unexpected(
                program_message(std::string(key) + " is not valid UTF-8; not written"));
    }
    return {};
}

std::expected<void, Error> write_config(const std::string& path, const Settings& settings)
{
    if (auto writable = check_writable(settings); !writable) return writable;
    if (auto stored = store(path, render_config(settings)); !stored)
        return std::unexpected(write_error(path, stored.error()));
    return {};
}

std::expected<bool, Error> write_new_config(const std::string& path, const Settings& settings)
{
    if (auto writable = check_writable(settings); !writable)
        return std::unexpected(writable.error());
    const Stored<bool> stored = store_where_no_file_is(path, render_config(settings));
    if (!stored) return std::unexpected(write_error(path, stored.error()));
    return *stored;
}

} // namespace kd
