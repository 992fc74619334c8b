#include "base/file_writing.hpp"

#include "support/temp_dir.hpp"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kd {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

constexpr std::string_view TEXT = "# new text\nsize = 128\n";

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

TEST(ReplaceFile, NewFilesAndDirectoriesTakeTheUmaskAReplacedFileKeepsItsMode)
{
    const ScopedUmask mask(027);
    const TempDir dir;
    const std::string path = dir.file("a/b/config");
    ASSERT_TRUE(replace_file(path, "old\n"));
    EXPECT_EQ(mode_of(path), 0640u);
    EXPECT_EQ(mode_of(dir.file("a")), 0750u);
    EXPECT_EQ(mode_of(dir.file("a/b")), 0750u);
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    ASSERT_TRUE(replace_file(path, TEXT));
    EXPECT_EQ(read_file(path), TEXT);
    EXPECT_EQ(mode_of(path), 0604u);
    EXPECT_EQ(entries(dir.file("a/b")), std::vector<std::string>{"config"});
}

TEST(ReplaceFile, WritesThroughSymbolicLinksAndKeepsThem)
{
    const TempDir dir;
    write_file(dir.file("dotfiles/kd.conf"), "old\n");
    std::filesystem::create_directories(dir.file("cfg"));
    std::filesystem::create_symlink("../dotfiles/kd.conf", dir.file("cfg/config"));
    ASSERT_TRUE(replace_file(dir.file("cfg/config"), TEXT));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("cfg/config")));
    EXPECT_EQ(read_file(dir.file("dotfiles/kd.conf")), TEXT);
    // A dangling link gives the file it points at, directories made.
    std::filesystem::create_symlink(dir.file("store/real"), dir.file("dangling"));
    ASSERT_TRUE(replace_file(dir.file("dangling"), TEXT));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("dangling")));
    EXPECT_EQ(read_file(dir.file("store/real")), TEXT);
}

// Runs replace_file in a child process without root's powers, so that permissions bite even
// when the tests run as root. Gives the errno value of its error, 0 on success.
int replace_file_unprivileged(const std::string& path)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(255);
        const auto result = replace_file(path, TEXT);
        ::_exit(result ? 0 : result.error().error_number);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << status;
    return WEXITSTATUS(status);
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
    const int error_number = replace_file_unprivileged(path);
    ASSERT_EQ(::chmod(dir.file("locked").c_str(), 0755), 0);
    EXPECT_EQ(error_number, c.written ? 0 : EACCES);
    if (c.written) {
        EXPECT_EQ(read_file(path), TEXT);
        if (c.file_mode) {
            EXPECT_EQ(mode_of(path), *c.file_mode);
        }
    } else if (c.file_mode) {
        EXPECT_EQ(read_file(path), "size = 200\n");
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

TEST(ReplaceFile, FailureHalfWayLeavesTheOldFileAndNoTemporaryFile)
{
    const TempDir dir;
    const std::string path = dir.file("config");
    write_file(path, "size = 200\n");
    // A file size limit makes the write stop part way through the text.
    struct rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit small = previous;
    small.rlim_cur = 10;
    const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto result = replace_file(path, TEXT);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previous_handler);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text, "File too large (os error 27)");
    EXPECT_EQ(read_file(path), "size = 200\n");
    EXPECT_EQ(entries(dir.path), std::vector<std::string>{"config"});
}

TEST(ReplaceFile, RefusesWhatAPlainWriteWouldRefuse)
{
    const TempDir dir;
    write_file(dir.file("file"), "");
    for (const auto& [path, reason] :
         {std::pair{dir.file("file/config"), "Not a directory (os error 20)"},
          std::pair{dir.path, "Is a directory (os error 21)"},
          std::pair{std::string(), "No such file or directory (os error 2)"},
          // A path that names a directory is refused before anything is made.
          std::pair{dir.file("newdir/"), "Is a directory (os error 21)"},
          std::pair{dir.file("newdir/."), "Is a directory (os error 21)"}}) {
        const auto result = replace_file(path, TEXT);
        ASSERT_FALSE(result) << path;
        EXPECT_EQ(result.error().kind, Error::Kind::Description);
        EXPECT_EQ(result.error().text, reason);
    }
    EXPECT_EQ(entries(dir.path), std::vector<std::string>{"file"});
}

TEST(ReplaceFile, FifoIsWrittenIntoNotReplaced)
{
    const TempDir dir;
    const std::string path = dir.file("fifo");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(replace_file(path, TEXT));
    std::string text(1024, '\0');
    const ssize_t count = ::read(reader, text.data(), text.size());
    ::close(reader);
    ASSERT_GT(count, 0);
    text.resize(static_cast<std::size_t>(count));
    EXPECT_EQ(text, TEXT);
    struct stat status{};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST(CreateFileIfAbsent, PutsTheTextOnlyWhereNoFileIs)
{
    const ScopedUmask mask(027);
    const TempDir dir;
    write_file(dir.file("there"), "size = 200\n");
    std::filesystem::create_symlink(dir.file("store/real"), dir.file("dangling"));
    EXPECT_EQ(create_file_if_absent(dir.file("there"), TEXT), false);
    EXPECT_EQ(read_file(dir.file("there")), "size = 200\n");
    EXPECT_EQ(create_file_if_absent(dir.file("a/config"), TEXT), true);
    EXPECT_EQ(read_file(dir.file("a/config")), TEXT);
    EXPECT_EQ(mode_of(dir.file("a/config")), 0640u);
    EXPECT_EQ(entries(dir.file("a")), std::vector<std::string>{"config"});
    EXPECT_EQ(create_file_if_absent(dir.file("dangling"), TEXT), true);
    EXPECT_EQ(read_file(dir.file("store/real")), TEXT);
    const auto refused = create_file_if_absent(dir.file("newdir/"), TEXT);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().text, "Is a directory (os error 21)");
}

// Whichever way the temporary file goes, published or not, nothing of it is left but the
// target it became.
TEST(TemporaryFile, IsGoneOnEveryWayOut)
{
    const TempDir dir;
    const std::string target = dir.file("config");
    const auto made_beside = [&](const std::string& name) {
        auto made = write_temporary_file(name, TEXT, 0600);
        EXPECT_TRUE(made) << (made ? "" : made.error().text);
        return made ? std::move(*made) : TemporaryFile();
    };
    made_beside(target); // dropped unpublished
    EXPECT_EQ(entries(dir.path), std::vector<std::string>{});

    EXPECT_EQ(publish_without_replacing(made_beside(target), target, TEXT), true);
    EXPECT_EQ(read_file(target), TEXT);
    write_file(target, "old\n");
    EXPECT_EQ(publish_without_replacing(made_beside(target), target, TEXT), false);
    EXPECT_EQ(read_file(target), "old\n");
    EXPECT_TRUE(publish_replacing(made_beside(target), target));
    EXPECT_EQ(read_file(target), TEXT);
    EXPECT_EQ(mode_of(target), 0600u);

    // A rename over a directory fails.
    std::filesystem::create_directories(dir.file("taken/inside"));
    const auto refused = publish_replacing(made_beside(dir.file("taken")), dir.file("taken"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().text, "Is a directory (os error 21)");
    EXPECT_EQ(entries(dir.path), (std::vector<std::string>{"config", "taken"}));
}

} // namespace
} // namespace kd
