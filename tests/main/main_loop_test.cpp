// The running loop against a real Xvfb, with the wall clock and the sleep driven by the test:
// every sleep moves the fake clock forward by exactly the requested time, so a whole minute
// runs in milliseconds and every repaint can be placed to the millisecond.
#include "dock/dock_fixture.hpp"
#include "face/font_fixture.hpp"
#include "face/scoped_zone.hpp"
#include "main/main_loop.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>
#include <sstream>

namespace kd::test {
namespace {

constexpr std::int64_t NOON = 1796731200; // 2026-12-08 12:00:00 UTC

std::int64_t millis(const Instant& instant)
{
    return instant.seconds * 1000 + instant.nanoseconds / 1000000;
}

// The fake clock and sleep. Each pass of the loop reads the clock once for its change test
// and once more when it repaints, so the passes' reads tell where the repaints were.
struct FakeTime {
    Instant now;
    std::vector<std::vector<Instant>> passes{{}};
    int sleeps = 0;
    std::function<void(int)> after_sleep = [](int) {};

    LoopSeams seams()
    {
        return LoopSeams{
            [this] {
                passes.back().push_back(now);
                return now;
            },
            [this](std::chrono::milliseconds duration) {
                const std::int64_t total = millis(now) + duration.count();
                now = Instant{total / 1000, static_cast<std::int32_t>(total % 1000) * 1000000};
                passes.emplace_back();
                ++sleeps;
                after_sleep(sleeps);
            }};
    }

    // The instants painted by change-driven and forced repaints (no exposures in these runs).
    std::vector<Instant> repaints() const
    {
        std::vector<Instant> painted;
        for (const auto& reads : passes)
            if (reads.size() == 2) painted.push_back(reads[1]);
        return painted;
    }
};

class MainLoop : public DockOnXvfb {
protected:
    void SetUp() override
    {
        reload_requested.store(false);
        window = std::make_unique<DockWindow>(open_or_fail(display()));
        // The mapping's own Expose is not part of what the tests count.
        events_until(*window, DockEvent::Kind::Exposed);
        buffer = make_pixel_buffer(window->size, window->size, window->lsb_first);
        other = std::make_unique<XConnection>(display());
    }

    void close_window_from_outside()
    {
        send_client_message(other->get(), window->face_window, intern_atom(other->get(), "WM_PROTOCOLS"),
                            {window->wm_delete_window, 0, 0, 0, 0});
        sync(other->get());
    }

    // Closes the window at the given sleep (and at every later one, should the loop still run).
    void close_after(int sleep_count)
    {
        time.after_sleep = [this, sleep_count](int sleeps) {
            if (sleeps >= sleep_count) close_window_from_outside();
        };
    }

    // A hangup during the first sleep, then a close request two passes later.
    void reload_once_then_close()
    {
        time.now = Instant{NOON, 0};
        time.after_sleep = [this](int sleeps) {
            if (sleeps == 1) reload_requested.store(true);
            if (sleeps >= 3) close_window_from_outside();
        };
    }

    std::expected<int, Error> run(Settings settings, const Arguments& args = {"kestrelDial"})
    {
        return run_main_loop(*window, test_font(), buffer, std::move(settings), args, env, err,
                             time.seams());
    }

    ScopedZone zone{"UTC"};
    TempDir config_home;
    Environment env = fixed_environment({{"XDG_CONFIG_HOME", config_home.path}});
    std::unique_ptr<DockWindow> window;
    std::unique_ptr<XConnection> other;
    PixelBuffer buffer;
    FakeTime time;
    std::ostringstream err;
};

TEST_F(MainLoop, SecondsModePaintsEverySecondOnceAndSoonAfterItsBoundary)
{
    time.now = Instant{NOON, 300000000};
    close_after(200);
    Settings settings;
    settings.seconds = true;
    ASSERT_EQ(run(settings).value_or(-1), 0);

    const auto painted = time.repaints();
    ASSERT_GE(painted.size(), 10u);
    EXPECT_EQ(millis(painted.front()), NOON * 1000 + 300); // the first pass paints at once
    for (std::size_t i = 1; i < painted.size(); ++i) {
        EXPECT_EQ(painted[i].seconds, painted[i - 1].seconds + 1) << "repaint " << i;
        EXPECT_LE(painted[i].nanoseconds, 10000000) << "repaint " << i << " came late";
    }
}

TEST_F(MainLoop, MinuteModeStartedAtHalfPastPaintsAgainOnlyAfterTheMinuteTurns)
{
    time.now = Instant{NOON + 30, 0};
    time.after_sleep = [this](int) {
        if (time.now.seconds >= NOON + 75) close_window_from_outside();
    };
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);

    const auto painted = time.repaints();
    ASSERT_EQ(painted.size(), 2u);
    EXPECT_EQ(millis(painted[0]), (NOON + 30) * 1000);
    EXPECT_GE(millis(painted[1]), (NOON + 60) * 1000);
    EXPECT_LE(millis(painted[1]), (NOON + 60) * 1000 + 100);
    // Idle: about one wake-up a second.
    EXPECT_LE(time.sleeps, 60);
}

TEST_F(MainLoop, CloseRequestSaysExitingUnlessQuiet)
{
    time.now = Instant{NOON, 0};
    close_after(1);
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);
    EXPECT_EQ(err.str(), "kestrelDial: exiting\n");

    Settings quiet;
    quiet.quiet = true;
    std::ostringstream().swap(err);
    ASSERT_EQ(run(quiet).value_or(-1), 0);
    EXPECT_EQ(err.str(), "");
}

TEST_F(MainLoop, WindowDestroyedByAnotherClientEndsSilently)
{
    time.now = Instant{NOON, 0};
    time.after_sleep = [this](int sleeps) {
        if (sleeps == 2) destroy_window(other->get(), window->face_window);
    };
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);
    EXPECT_EQ(err.str(), "");
}

TEST_F(MainLoop, HangupReloadsOnceAndForcesARepaintInTheSamePass)
{
    install_hangup_handler();
    time.now = Instant{NOON + 10, 0};
    time.after_sleep = [this](int sleeps) {
        // Several signals during one sleep make one reload.
        if (sleeps == 3) {
            std::raise(SIGHUP);
            std::raise(SIGHUP);
        }
        if (sleeps >= 6) close_window_from_outside();
    };
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);

    const std::string text = err.str();
    EXPECT_EQ(text.find("kestrelDial: config reloaded (SIGHUP)\n"),
              text.rfind("kestrelDial: config reloaded (SIGHUP)\n"));
    EXPECT_NE(text.find("kestrelDial: config reloaded (SIGHUP)\n"), std::string::npos);
    // Minute mode, no minute turned: only the first pass and the reloading pass repaint.
    ASSERT_GE(time.passes.size(), 4u);
    EXPECT_EQ(time.passes[3].size(), 2u);
    EXPECT_EQ(time.repaints().size(), 2u);
}

TEST_F(MainLoop, ReloadWritesAMissingConfigWithTheRunningSettings)
{
    reload_once_then_close();
    Settings running;
    running.seconds = true;
    ASSERT_EQ(run(running, {"kestrelDial", "--seconds"}).value_or(-1), 0);

    const std::string path = config_home.path + "/kestrelDial/config";
    EXPECT_NE(read_file(path).find("\nseconds = true\n"), std::string::npos);
    EXPECT_NE(err.str().find("kestrelDial: wrote default config to " + path + "\n"),
              std::string::npos);
}

TEST_F(MainLoop, AConfigThatCannotBeWrittenIsReportedEvenWhenQuietAndTheReloadGoesOn)
{
    // A plain file where the config directory should be: creating the directory fails.
    write_file(config_home.file("blocker"), "");
    env = fixed_environment({{"XDG_CONFIG_HOME", config_home.file("blocker")}});
    reload_once_then_close();
    Settings quiet;
    quiet.quiet = true;
    ASSERT_EQ(run(quiet, {"kestrelDial", "--quiet"}).value_or(-1), 0);
    EXPECT_EQ(err.str(), "kestrelDial: failed to write config: Not a directory (os error 20)\n");
}

TEST_F(MainLoop, QuietInTheReloadedFileSilencesThatVeryReload)
{
    write_file(config_home.path + "/kestrelDial/config", "quiet = true\n");
    reload_once_then_close();
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);
    EXPECT_EQ(err.str(), ""); // neither the reload line nor "exiting"
}

TEST_F(MainLoop, ExposeSeriesRepaintsOnceAfterItsLastEvent)
{
    time.now = Instant{NOON + 5, 0};
    time.after_sleep = [this](int sleeps) {
        if (sleeps == 2) {
            for (std::uint16_t count : {2, 1, 0})
                send_expose(other->get(), window->face_window, 96, 96, count);
            sync(other->get());
        }
        if (sleeps >= 4) close_window_from_outside();
    };
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);
    // That pass reads the clock for the exposure's paint and for its change test, nothing more.
    ASSERT_GE(time.passes.size(), 3u);
    EXPECT_EQ(time.passes[2].size(), 2u);
    EXPECT_EQ(time.repaints().size(), 2u); // first pass + the exposure
}

TEST_F(MainLoop, MiddleClickReloadsWithoutACommandAndRunsItWithOne)
{
    write_file(config_home.path + "/kestrelDial/config", "# nothing set\n");
    time.now = Instant{NOON, 0};
    time.after_sleep = [this](int sleeps) {
        if (sleeps == 1) fake_click(other->get(), 48, 48, 2);
        if (sleeps >= 3) close_window_from_outside();
    };
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);
    EXPECT_EQ(err.str(), "kestrelDial: config reloaded\nkestrelDial: exiting\n");

    const std::string marker = config_home.file("middle-ran");
    Settings with_command;
    with_command.middle_click = "touch '" + marker + "'";
    time.sleeps = 0;
    std::ostringstream().swap(err);
    ASSERT_EQ(run(with_command).value_or(-1), 0);
    EXPECT_EQ(err.str(), "kestrelDial: exiting\n");
    EXPECT_TRUE(wait_until([&] { return access(marker.c_str(), F_OK) == 0; }));
}

TEST_F(MainLoop, LostServerEndsTheLoopWithAnError)
{
    XvfbServer own_server;
    auto own_window = open_or_fail(own_server.display());
    time.now = Instant{NOON, 0};
    time.after_sleep = [&](int sleeps) {
        if (sleeps == 2) own_server.kill_now();
    };
    const auto ended = run_main_loop(own_window, test_font(), buffer, Settings{}, {"kestrelDial"},
                                     env, err, time.seams());
    ASSERT_FALSE(ended.has_value());
    EXPECT_FALSE(ended.error().text.empty());
}

} // namespace
} // namespace kd::test
