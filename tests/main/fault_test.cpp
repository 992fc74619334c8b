// Faults from the outside world while the clock runs: the window manager going away and
// coming back, the config file being rewritten under a storm of reloads or saved while a
// reload writes its own copy, and standard descriptors closed or never read.
#include "support/child_process.hpp"
#include "support/temp_dir.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kd::test {
namespace {

using namespace std::chrono_literals;

bool shows_bevel(xcb_connection_t* x, xcb_window_t window)
{
    const auto pixels = get_image(x, window, 96, 96);
    // The outermost ring's top-left pixel, 30,30,30, reads the same in either byte order.
    return pixels && pixels->size() >= 4 && (*pixels)[0] == 30 && (*pixels)[1] == 30 &&
           (*pixels)[2] == 30;
}

// Whether some pixel of the window is r, g, b in the server's byte order (green is red in both).
bool shows_color(xcb_connection_t* x, xcb_window_t window, std::uint8_t r, std::uint8_t g,
                 std::uint8_t b)
{
    const auto pixels = get_image(x, window, 96, 96);
    if (!pixels) return false;
    const bool lsb_first = xcb_get_setup(x)->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    for (std::size_t i = 0; i + 3 < pixels->size(); i += 4) {
        const std::uint8_t* p = pixels->data() + i;
        if (lsb_first ? p[0] == b && p[1] == g && p[2] == r : p[1] == r && p[2] == g && p[3] == b)
            return true;
    }
    return false;
}

TEST(Faults, ClockOutlivesAWindowManagerRestartAndDocksAgain)
{
    XvfbServer server;
    TempDir home;
    XConnection x(server.display());
    auto fluxbox = std::make_unique<FluxboxSession>(server);
    RunningProgram clock(
        {KD_BINARY, "--font", KD_TEST_FONT},
        {"HOME=" + home.path, "PATH=/usr/bin:/bin", "DISPLAY=" + server.display()});
    const auto windows = wait_for_clock(x.get(), x.root());
    ASSERT_TRUE(windows) << clock.stderr_text();
    const auto shown_in = [&](xcb_window_t parent) {
        const auto tree = query_tree(x.get(), windows->face);
        const auto attributes = get_window_attributes(x.get(), windows->face);
        return tree && tree->parent == parent && attributes &&
               attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    };
    ASSERT_TRUE(wait_until([&] { return shown_in(fluxbox->slit_window()); }))
        << clock.stderr_text();

    fluxbox.reset(); // the slit goes; the server hands the window back to the root
    ASSERT_TRUE(wait_until([&] { return shown_in(x.root()); })) << clock.stderr_text();
    EXPECT_TRUE(clock.running());

    fluxbox = std::make_unique<FluxboxSession>(server);
    EXPECT_TRUE(wait_until([&] { return shown_in(fluxbox->slit_window()); }));
    // Re-parenting loses the window's contents; the exposure brings the face back.
    EXPECT_TRUE(wait_until([&] { return shows_bevel(x.get(), windows->face); }));
    EXPECT_TRUE(clock.running());
    EXPECT_EQ(clock.stderr_text().find("Error"), std::string::npos) << clock.stderr_text();
}

TEST(Faults, ConfigRewrittenDuringAReloadStormNeverHurtsTheClock)
{
    XvfbServer server;
    TempDir home;
    XConnection x(server.display());
    const std::string config = home.path + "/.config/kestrelDial/config";
    write_file(config, "seconds = true\n");
    RunningProgram clock(
        {KD_BINARY, "--font", KD_TEST_FONT},
        {"HOME=" + home.path, "PATH=/usr/bin:/bin", "DISPLAY=" + server.display()});
    ASSERT_TRUE(clock.wait_until_catching(SIGHUP, 10s)) << clock.stderr_text();
    const auto windows = wait_for_clock(x.get(), x.root());
    ASSERT_TRUE(windows) << clock.stderr_text();

    // One thread rewrites the file in place (truncated, then written in pieces) and by
    // rename, while the test asks for reloads as fast as it can.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const std::string long_line = "label = " + std::string(4000, 'x') + "\n";
        for (int round = 0; !stop.load(); ++round) {
            if (round % 2 == 0) {
                std::FILE* file = std::fopen(config.c_str(), "w");
                if (file == nullptr) continue;
                for (int piece = 0; piece < 8; ++piece) {
                    std::fputs(long_line.c_str(), file);
                    std::fflush(file);
                }
                std::fclose(file);
            } else {
                write_file(config + ".new", "theme = zenburn\nsize = 128\n");
                std::rename((config + ".new").c_str(), config.c_str());
            }
        }
    });
    // Middle clicks reload at once, hangups when the loop next wakes: the storm lasts until
    // the clock has done a few of each.
    EXPECT_TRUE(wait_until(
        [&] {
            clock.send_signal(SIGHUP);
            click_on(x.get(), windows->input, 40, 40, 2);
            return clock.stderr_count("kestrelDial: config reloaded\n") >= 10 &&
                   clock.stderr_count("kestrelDial: config reloaded (SIGHUP)\n") >= 2;
        },
        30s))
        << clock.stderr_text();
    stop.store(true);
    writer.join();

    ASSERT_TRUE(clock.running()) << clock.stderr_text();
    request_close(x.get(), windows->face);
    EXPECT_EQ(clock.wait_exit(10s), 0);
    EXPECT_EQ(clock.stderr_text().find("Error"), std::string::npos) << clock.stderr_text();
}

// Standard descriptors as start-up scripts and loggers may leave them: closed, or standard
// error a pipe whose reader has stalled.
class StandardDescriptors : public ::testing::TestWithParam<std::string> {};

TEST_P(StandardDescriptors, NeitherLandOnTheXConnectionNorStopTheClock)
{
    XvfbServer server;
    TempDir home;
    XConnection x(server.display());
    const bool stalled = GetParam() == "stalled";
    const ErrorChannel channel;
    channel.stall();
    RunningProgram clock(
        {"/bin/sh", "-c", "exec \"$@\" " + (stalled ? "" : GetParam()), "sh", KD_BINARY, "--font",
         KD_TEST_FONT},
        {"HOME=" + home.path, "PATH=/usr/bin:/bin", "DISPLAY=" + server.display()},
        ChildSetup{.stderr_fd = stalled ? channel.writer.fd : -1, .address_space_bytes = {}});
    const auto windows = wait_for_clock(x.get(), x.root());
    ASSERT_TRUE(windows);
    ASSERT_TRUE(clock.wait_until_catching(SIGHUP, 10s));
    for (int fd = 0; fd <= 2; ++fd) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(
            "/proc/" + std::to_string(clock.pid()) + "/fd/" + std::to_string(fd), error);
        EXPECT_FALSE(target.string().starts_with("socket:")) << fd << " is " << target;
    }
    // A reload, and its status line, and the face still follows it.
    const auto reload_shows = [&](const std::string& color, std::uint8_t r, std::uint8_t g,
                                  std::uint8_t b) {
        write_file(home.path + "/.config/kestrelDial/config", "color = " + color + "\n");
        clock.send_signal(SIGHUP);
        EXPECT_TRUE(wait_until([&] { return shows_color(x.get(), windows->face, r, g, b); }));
    };
    reload_shows("255, 0, 0", 255, 0, 0);
    channel.take(); // the reader takes lines again
    reload_shows("0, 0, 255", 0, 0, 255);
    request_close(x.get(), windows->face);
    EXPECT_EQ(clock.wait_exit(10s), 0);
    if (stalled) {
        EXPECT_EQ(channel.take(),
                  "kestrelDial: 3 lines dropped while standard error was not being read\n"
                  "kestrelDial: config reloaded (SIGHUP)\n"
                  "kestrelDial: exiting\n");
    }
    EXPECT_EQ(fcntl(channel.writer.fd, F_GETFL) & O_NONBLOCK, 0);
}

INSTANTIATE_TEST_SUITE_P(ClosedOrStalled, StandardDescriptors,
                         ::testing::Values("2>&-", "<&- >&- 2>&-", "stalled"));

// strace's tampering with the clock's calls. Whatever call puts the clock's copy in place is
// held for half a second, so the user's save, made as soon as the copy's temporary file
// appears, lands between the clock's look at the path and its copy's arrival.
struct SaveRace {
    std::string name;
    std::vector<std::string> tampering;
};

void PrintTo(const SaveRace& race, std::ostream* out)
{
    *out << race.name;
}

class ConfigSavedDuringAReload : public ::testing::TestWithParam<SaveRace> {};

TEST_P(ConfigSavedDuringAReload, IsKeptAndRead)
{
    XvfbServer server;
    TempDir home;
    XConnection x(server.display());
    const std::string directory = home.path + "/.config/kestrelDial";
    const std::string config = directory + "/config";
    std::filesystem::create_directories(directory);
    std::vector<std::string> argv{"strace", "-D", "-f", "-qq", "-o", "/dev/null"};
    for (const std::string& expression : GetParam().tampering)
        argv.insert(argv.end(), {"-e", expression});
    argv.insert(argv.end(), {KD_BINARY, "--font", KD_TEST_FONT});
    RunningProgram clock(
        argv, {"HOME=" + home.path, "PATH=/usr/bin:/bin", "DISPLAY=" + server.display()});
    const auto windows = wait_for_clock(x.get(), x.root());
    ASSERT_TRUE(windows) << clock.stderr_text();
    ASSERT_TRUE(clock.wait_until_catching(SIGHUP, 10s)) << clock.stderr_text();

    clock.send_signal(SIGHUP);
    ASSERT_TRUE(wait_until(
        [&] {
            for (const auto& entry : std::filesystem::directory_iterator(directory))
                if (entry.path().filename().string().starts_with(".config.")) return true;
            return false;
        },
        10000ms))
        << "the clock never started its copy";
    const std::string marker = home.file("middle-ran");
    const std::string saved = "# mine\nmiddle_click = touch '" + marker + "'\n";
    write_file(config + ".saving", saved);
    ASSERT_EQ(std::rename((config + ".saving").c_str(), config.c_str()), 0);

    ASSERT_TRUE(clock.wait_for_stderr("kestrelDial: config reloaded (SIGHUP)\n", 20s))
        << clock.stderr_text();
    EXPECT_EQ(read_file(config), saved);
    EXPECT_EQ(clock.stderr_text().find("wrote default config"), std::string::npos);
    EXPECT_EQ(clock.stderr_text().find("failed to write config"), std::string::npos);
    EXPECT_EQ(
        std::vector<std::filesystem::path>(std::filesystem::directory_iterator(directory), {}),
        std::vector<std::filesystem::path>{config});
    // The clock runs on what the user saved.
    ASSERT_TRUE(click_on(x.get(), windows->input, 40, 40, 2));
    EXPECT_TRUE(wait_until([&] { return access(marker.c_str(), F_OK) == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Publishing, ConfigSavedDuringAReload,
    ::testing::Values(SaveRace{"Rename", {"inject=renameat2:delay_enter=500000"}},
                      // A file system that knows no rename without replacing: a hard link.
                      SaveRace{"Link",
                               {"inject=renameat2:error=EINVAL",
                                "inject=link,linkat:delay_enter=500000"}}),
    [](const auto& test_case) { return test_case.param.name; });

} // namespace
} // namespace kd::test
