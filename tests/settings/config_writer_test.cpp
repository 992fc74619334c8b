#include "settings/config_writer.hpp"

#include "settings/config_file.hpp"
#include "settings/value_syntax.hpp"
#include "support/temp_dir.hpp"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace kd {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

constexpr const char* DEFAULT_TEXT = R"text(# kestrelDial configuration
# See: kestrelDial --help

# Time format: 12h or 24h
# format = 24h

# Show seconds in time display
# seconds = false

# Show abbreviated month name
# short_month = false

# Fixed UTC offset, e.g. +4, -5, +5:30 (default: system local time).
# When set, a compact indicator like (+4) is shown beside the time.
# Note: a fixed offset does not follow daylight saving time.
# timezone =

# Custom text shown beside the date (overrides the timezone indicator).
# label =

# Window size in pixels, 96 to 1024 (96 and 128 are the classic sizes)
# size = 96

# Font file path (leave commented for auto-detect via fontconfig)
# No fallback font: Japanese/CJK text in the label needs a CJK-capable
# font, e.g. /usr/share/fonts/ja-ipafonts/ipagp.ttf
# font = /path/to/font.ttf

# Color theme: zenburn
# theme =

# Main color (R, G, B)
# color = 0, 255, 0

# Dim color (R, G, B)
# dim_color = 0, 200, 0

# Left click command
# left_click =

# Middle click command (default: reload config)
# middle_click =

# Right click command
# right_click =

# Run in the background
# background = true

# Show extra informational messages
# verbose = false

# Suppress all non-error output
# quiet = false
)text";

constexpr const char* FULL_TEXT = R"text(# kestrelDial configuration
# See: kestrelDial --help

# Time format: 12h or 24h
format = 12h

# Show seconds in time display
seconds = true

# Show abbreviated month name
short_month = true

# Fixed UTC offset, e.g. +4, -5, +5:30 (default: system local time).
# When set, a compact indicator like (+4) is shown beside the time.
# Note: a fixed offset does not follow daylight saving time.
timezone = -9:30

# Custom text shown beside the date (overrides the timezone indicator).
label = (Tokyo) "x=1"

# Window size in pixels, 96 to 1024 (96 and 128 are the classic sizes)
size = 128

# Font file path (leave commented for auto-detect via fontconfig)
# No fallback font: Japanese/CJK text in the label needs a CJK-capable
# font, e.g. /usr/share/fonts/ja-ipafonts/ipagp.ttf
font = /usr/share/fonts/ja-ipafonts/ipagp.ttf

# Color theme: zenburn
theme = ZenBurn

# Main color (R, G, B)
color = 220, 193, 153

# Dim color (R, G, B)
dim_color = 180, 158, 125

# Left click command
left_click = xterm -e 'cal -3'

# Middle click command (default: reload config)
middle_click = true

# Right click command
right_click = notify-send "$(date)"

# Run in the background
background = true

# Show extra informational messages
# verbose = false

# Suppress all non-error output
# quiet = false
)text";

Settings full_settings()
{
    Settings s;
    s.format = TimeFormat::Hours12;
    s.seconds = true;
    s.short_month = true;
    s.timezone = -(9 * 3600 + 30 * 60);
    s.label = "(Tokyo) \"x=1\"";
    s.size = 128;
    s.font = "/usr/share/fonts/ja-ipafonts/ipagp.ttf";
    s.theme = "ZenBurn";
    s.color = ZENBURN_COLOR;
    s.dim_color = ZENBURN_DIM_COLOR;
    s.left_click = "xterm -e 'cal -3'";
    s.middle_click = "true";
    s.right_click = "notify-send \"$(date)\"";
    s.background = true;
    s.verbose = true;
    s.quiet = true;
    return s;
}

TEST(RenderConfig, DefaultsGiveFiftyFourLinesWithoutActiveLine)
{
    const std::string text = render_config(Settings{});
    EXPECT_EQ(text, DEFAULT_TEXT);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 54);
    EXPECT_EQ(settings_from_text(text), Settings{});
}

TEST(RenderConfig, EveryFieldSet)
{
    EXPECT_EQ(render_config(full_settings()), FULL_TEXT);
}

TEST(RenderConfig, RoundTripKeepsEverythingButTheMessageSwitches)
{
    Settings expected = full_settings();
    expected.verbose = expected.quiet = false; // never written as active lines
    EXPECT_EQ(settings_from_text(render_config(full_settings())), expected);

    Settings other;
    other.timezone = 0;
    other.color = Rgb{1, 2, 3};
    other.theme = "zenburn"; // the explicit colour must survive the theme on reading
    other.size = 1024;
    const Rgb written_color = settings_from_text(render_config(other)).color;
    EXPECT_EQ(written_color, (Rgb{1, 2, 3}));
    EXPECT_EQ(settings_from_text(render_config(other)).timezone, 0);
    EXPECT_NE(render_config(other).find("\ntimezone = +0\n"), std::string::npos);
}

TEST(RenderConfig, DefaultColoursKeptUnderZenburnSurviveTheRoundTrip)
{
    // Read from "theme = zenburn" plus explicit default colours: both must come back as set.
    const Settings read =
        settings_from_text("theme = zenburn\ncolor = 0, 255, 0\ndim_color = 0,200,0\n");
    ASSERT_EQ(read.color, DEFAULT_COLOR);
    const std::string text = render_config(read);
    EXPECT_NE(text.find("\ncolor = 0, 255, 0\n"), std::string::npos);
    EXPECT_NE(text.find("\ndim_color = 0, 200, 0\n"), std::string::npos);
    EXPECT_EQ(settings_from_text(text), read);
}

TEST(RenderConfig, EmptyLabelKeepsItsBlank)
{
    Settings settings;
    settings.label = "";
    EXPECT_NE(render_config(settings).find("\nlabel = \n"), std::string::npos);
}

// ---- refused values ----

struct RefusedCase {
    std::string key;
    void (*set)(Settings&, std::string);
};

class RefusedValue : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedValue, LineBreakWritesNothing)
{
    const TempDir dir;
    write_file(dir.file("config"), "size = 200\n");
    for (const std::string value : {"a\nleft_click = rm -rf ~", "a\rb", "x\n"}) {
        Settings settings;
        GetParam().set(settings, value);
        const auto result = write_config(dir.file("config"), settings);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, Error::Kind::Message);
        EXPECT_EQ(result.error().text, GetParam().key + " contains a line break; not written");
    }
    Settings settings;
    GetParam().set(settings, "caf\xE9");
    const auto result = write_config(dir.file("config"), settings);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text, GetParam().key + " is not valid UTF-8; not written");
    EXPECT_EQ(read_file(dir.file("config")), "size = 200\n");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RefusedValue,
    testing::Values(
        RefusedCase{"label", [](Settings& s, std::string v) { s.label = v; }},
        RefusedCase{"font", [](Settings& s, std::string v) { s.font = v; }},
        RefusedCase{"theme", [](Settings& s, std::string v) { s.theme = v; }},
        RefusedCase{"left_click", [](Settings& s, std::string v) { s.left_click = v; }},
        RefusedCase{"middle_click", [](Settings& s, std::string v) { s.middle_click = v; }},
        RefusedCase{"right_click", [](Settings& s, std::string v) { s.right_click = v; }}),
    [](const auto& test_case) { return test_case.param.key; });

// ---- storing the file ----

mode_t mode_of(const std::string& path)
{
    struct stat status{};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::vector<std::string> entries(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Sets the umask for one test and restores it.
struct ScopedUmask {
    mode_t previous;
    explicit ScopedUmask(mode_t mask) : previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous); }
};

TEST(WriteConfig, CreatesDirectoriesAndFileWithUmaskModes)
{
    const ScopedUmask mask(027);
    const TempDir dir;
    const std::string path = dir.file("a/b/config");
    ASSERT_TRUE(write_config(path, Settings{}));
    EXPECT_EQ(read_file(path), DEFAULT_TEXT);
    EXPECT_EQ(mode_of(path), 0640u);
    EXPECT_EQ(mode_of(dir.file("a")), 0750u);
    EXPECT_EQ(mode_of(dir.file("a/b")), 0750u);
    EXPECT_EQ(entries(dir.file("a/b")), std::vector<std::string>{"config"});
}

TEST(WriteConfig, ReplacingKeepsPermissionBits)
{
    const TempDir dir;
    const std::string path = dir.file("config");
    write_file(path, "old\n");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(write_config(path, full_settings()));
    EXPECT_EQ(read_file(path), FULL_TEXT);
    EXPECT_EQ(mode_of(path), 0600u);
    EXPECT_EQ(entries(dir.path), std::vector<std::string>{"config"});
}

TEST(WriteConfig, SymlinkedConfigKeepsItsLink)
{
    const TempDir dir;
    write_file(dir.file("dotfiles/kd.conf"), "old\n");
    std::filesystem::create_directories(dir.file("cfg"));
    std::filesystem::create_symlink("../dotfiles/kd.conf", dir.file("cfg/config"));
    ASSERT_TRUE(write_config(dir.file("cfg/config"), Settings{}));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("cfg/config")));
    EXPECT_EQ(read_file(dir.file("dotfiles/kd.conf")), DEFAULT_TEXT);
}

TEST(WriteConfig, DanglingSymlinkWritesItsTarget)
{
    const TempDir dir;
    std::filesystem::create_symlink(dir.file("store/real"), dir.file("config"));
    ASSERT_TRUE(write_config(dir.file("config"), Settings{}));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("config")));
    EXPECT_EQ(read_file(dir.file("store/real")), DEFAULT_TEXT);
}

// Runs write_config in a child process without root's powers, so that permissions bite
// even when the tests run as root. Gives the error text, or "" on success.
std::string write_config_unprivileged(const std::string& path, const Settings& settings)
{
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        const auto result = write_config(path, settings);
        const std::string text = result ? "" : result.error().text;
        const bool sent =
            ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(sent ? 0 : 3);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return text;
}

// What a plain write would do, as a user without root's powers: refused where opening the file
// for writing is refused, written in place where only a temporary file cannot be made.
struct UnprivilegedCase {
    std::string name;
    mode_t directory_mode;
    std::optional<mode_t> file_mode; // no file when absent
    std::string file_name;
    bool written;
};

void PrintTo(const UnprivilegedCase& c, std::ostream* out)
{
    *out << c.name;
}

class UnprivilegedWrite : public testing::TestWithParam<UnprivilegedCase> {};

TEST_P(UnprivilegedWrite, AsAPlainWriteWouldAndWithoutATemporaryFileLeft)
{
    const UnprivilegedCase& c = GetParam();
    const TempDir dir;
    const std::string path = dir.file("locked/" + c.file_name);
    std::filesystem::create_directories(dir.file("locked"));
    if (c.file_mode) {
        write_file(path, "size = 200\n");
        ASSERT_EQ(::chmod(path.c_str(), *c.file_mode), 0);
    }
    ASSERT_EQ(::chmod(dir.path.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(dir.file("locked").c_str(), c.directory_mode), 0);
    const std::string error = write_config_unprivileged(path, Settings{});
    ASSERT_EQ(::chmod(dir.file("locked").c_str(), 0755), 0);
    if (c.written) {
        EXPECT_EQ(error, "");
        EXPECT_EQ(read_file(path), DEFAULT_TEXT);
        if (c.file_mode) {
            EXPECT_EQ(mode_of(path), *c.file_mode);
        }
    } else {
        EXPECT_EQ(error, "cannot write " + path + ": Permission denied (os error 13)");
        if (c.file_mode) {
            EXPECT_EQ(read_file(path), "size = 200\n");
        }
    }
    const bool file_there = c.file_mode || c.written;
    EXPECT_EQ(entries(dir.file("locked")),
              file_there ? std::vector<std::string>{c.file_name} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Permissions, UnprivilegedWrite,
    testing::Values(
        // The rename would have replaced a file that may not be written.
        UnprivilegedCase{"ReadOnlyFileInAnOpenDirectory", 0777, 0444, "config", false},
        UnprivilegedCase{"WritableFileInALockedDirectory", 0555, 0666, "config", true},
        UnprivilegedCase{"NoFileInALockedDirectory", 0555, std::nullopt, "config", false},
        // No room for the temporary name's suffix: written directly, existing or new.
        UnprivilegedCase{"LongNameOfAFile", 0777, 0666, std::string(250, 'c'), true},
        UnprivilegedCase{"LongNameOfNoFile", 0777, std::nullopt, std::string(250, 'c'), true}),
    [](const auto& test_case) { return test_case.param.name; });

TEST(WriteConfig, FailureHalfWayLeavesTheOldFileAndNoTemporaryFile)
{
    const TempDir dir;
    const std::string path = dir.file("config");
    write_file(path, "size = 200\n");
    // A file size limit makes the write stop part way through the text.
    struct rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit small = previous;
    small.rlim_cur = 100;
    const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto result = write_config(path, Settings{});
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previous_handler);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text, "cannot write " + path + ": File too large (os error 27)");
    EXPECT_EQ(read_file(path), "size = 200\n");
    EXPECT_EQ(entries(dir.path), std::vector<std::string>{"config"});
}

TEST(WriteConfig, SystemErrorsNameTheFile)
{
    const TempDir dir;
    write_file(dir.file("file"), "");
    for (const auto& [path, reason] :
         {std::pair{dir.file("file/config"), "Not a directory (os error 20)"},
          std::pair{dir.path, "Is a directory (os error 21)"},
          // A path that names a directory is refused before anything is made.
          std::pair{dir.file("newdir/"), "Is a directory (os error 21)"},
          std::pair{dir.file("newdir/."), "Is a directory (os error 21)"}}) {
        const auto result = write_config(path, Settings{});
        ASSERT_FALSE(result) << path;
        EXPECT_EQ(result.error().kind, Error::Kind::Description);
        EXPECT_EQ(result.error().text, "cannot write " + path + ": " + reason);
    }
    EXPECT_EQ(entries(dir.path), std::vector<std::string>{"file"});
}

TEST(WriteNewConfig, PutsTheTextOnlyWhereNoFileIs)
{
    const ScopedUmask mask(027);
    const TempDir dir;
    write_file(dir.file("there"), "size = 200\n");
    std::filesystem::create_symlink(dir.file("store/real"), dir.file("dangling"));
    EXPECT_EQ(write_new_config(dir.file("there"), Settings{}), false);
    EXPECT_EQ(read_file(dir.file("there")), "size = 200\n");
    EXPECT_EQ(write_new_config(dir.file("a/config"), Settings{}), true);
    EXPECT_EQ(read_file(dir.file("a/config")), DEFAULT_TEXT);
    EXPECT_EQ(mode_of(dir.file("a/config")), 0640u);
    EXPECT_EQ(entries(dir.file("a")), std::vector<std::string>{"config"});
    EXPECT_EQ(write_new_config(dir.file("dangling"), Settings{}), true);
    EXPECT_EQ(read_file(dir.file("store/real")), DEFAULT_TEXT);
    const auto refused = write_new_config(dir.file("newdir/"), Settings{});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().text,
              "cannot write " + dir.file("newdir/") + ": Is a directory (os error 21)");
}

TEST(WriteConfig, FifoIsWrittenIntoNotReplaced)
{
    const TempDir dir;
    const std::string path = dir.file("fifo");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::fcntl(reader, F_SETPIPE_SZ, 1 << 16) > 0, true); // room for the whole text
    ASSERT_TRUE(write_config(path, Settings{}));
    std::string text(1 << 16, '\0');
    const ssize_t count = ::read(reader, text.data(), text.size());
    ::close(reader);
    ASSERT_GT(count, 0);
    text.resize(static_cast<std::size_t>(count));
    EXPECT_EQ(text, DEFAULT_TEXT);
    struct stat status{};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

} // namespace
} // namespace kd
