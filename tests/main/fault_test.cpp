// Faults from the outside world while the clock runs: the window manager going away and
// coming back, and the config file being rewritten under a storm of reloads.
#include "support/child_process.hpp"
#include "support/temp_dir.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

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

TEST(Faults, ClockOutlivesAWindowManagerRestartAndDocksAgain)
{
    XvfbServer server;
    TempDir home;
    XConnection x(server.display());
    auto fluxbox = std::make_unique<FluxboxSession>(server);
    RunningProgram clock({KD_BINARY, "--font", KD_TEST_FONT},
                         {"HOME=" + home.path, "PATH=/usr/bin:/bin", "DISPLAY=" + server.display()});
    const auto windows = wait_for_clock(x.get(), x.root());
    ASSERT_TRUE(windows) << clock.stderr_text();
    const auto shown_in = [&](xcb_window_t parent) {
        const auto tree = query_tree(x.get(), windows->face);
        const auto attributes = get_window_attributes(x.get(), windows->face);
        return tree && tree->parent == parent && attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    };
    ASSERT_TRUE(wait_until([&] { return shown_in(fluxbox->slit_window()); })) << clock.stderr_text();

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
    RunningProgram clock({KD_BINARY, "--font", KD_TEST_FONT},
                         {"HOME=" + home.path, "PATH=/usr/bin:/bin", "DISPLAY=" + server.display()});
    ASSERT_TRUE(clock.wait_for_stderr("kestrelDial: running", 10s)) << clock.stderr_text();
    ASSERT_TRUE(clock.wait_until_catching(SIGHUP, 10s)) << clock.stderr_text();

    // One thread rewrites the file in place (truncated, then written in pieces) and by
    // rename, while the test signals reloads as fast as it can.
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
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < until) {
        clock.send_signal(SIGHUP);
        std::this_thread::sleep_for(5ms);
    }
    stop.store(true);
    writer.join();

    ASSERT_TRUE(clock.running()) << clock.stderr_text();
    EXPECT_TRUE(clock.wait_for_stderr("kestrelDial: config reloaded (SIGHUP)", 5s));
    const auto windows = wait_for_clock(x.get(), x.root());
    ASSERT_TRUE(windows) << clock.stderr_text();
    send_client_message(x.get(), windows->face, intern_atom(x.get(), "WM_PROTOCOLS"),
                        {intern_atom(x.get(), "WM_DELETE_WINDOW"), 0, 0, 0, 0});
    sync(x.get());
    EXPECT_EQ(clock.wait_exit(10s), 0);
    EXPECT_EQ(clock.stderr_text().find("Error"), std::string::npos) << clock.stderr_text();
}

} // namespace
} // namespace kd::test
