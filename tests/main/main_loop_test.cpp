// The loop's timing rules (when a pass repaints, how long it waits, which clicks it takes),
// then the running loop against a real Xvfb, with the wall clock, the monotonic clock and the wait
// driven by the test: a wait that no event ends moves both clocks to its deadline, so a whole
// minute runs in milliseconds and every repaint can be placed to the millisecond. A wait during
// which the test sends the window an event waits for real until the event can be taken, and
// then ends 1 ms of driven time after it began.
#include "dock/dock_fixture.hpp"
#include "face/font_fixture.hpp"
#include "face/scoped_zone.hpp"
#include "main/main_loop.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace kd::test {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t NOON = 1796731200; // 2026-12-08 12:00:00 UTC

std::int64_t millis(const Instant& instant)
{
    return instant.seconds * 1000 + instant.nanoseconds / 1000000;
}

// The fake clocks and wait. Each pass of the loop reads the wall clock once for its change
// test and once more when it repaints, so the passes' reads tell where the repaints were.
struct FakeTime {
    Instant start;                           // the wall clock when the monotonic one reads 0
    std::int64_t elapsed = 0;                // the monotonic clock, in nanoseconds
    std::int64_t wall_slower_per_second = 0; // drift: nanoseconds the wall clock loses a second
    std::vector<std::vector<Instant>> passes{{}};

    struct Wait {
        std::int64_t began;    // monotonic nanoseconds
        std::int64_t deadline; // monotonic nanoseconds
        bool woken;
    };
    std::vector<Wait> waits;
    // Runs as wait number n (from 1) begins; true when it sent the window an event.
    std::function<bool(int)> during_wait = [](int) { return false; };

    Instant now() const
    {
        const std::int64_t wall = start.seconds * 1000000000 + start.nanoseconds + elapsed -
                                  elapsed / 1000000000 * wall_slower_per_second;
        return Instant{wall / 1000000000, static_cast<std::int32_t>(wall % 1000000000)};
    }

    LoopSeams seams()
    {
        return LoopSeams{
            [this] {
                passes.back().push_back(now());
                return now();
            },
            [this] { return MonotonicTime{} + std::chrono::nanoseconds(elapsed); },
            [this](DockWindow& window, MonotonicTime until) -> std::expected<DockWait, Error> {
                const std::int64_t deadline = (until - MonotonicTime{}).count();
                waits.push_back({elapsed, deadline, false});
                passes.emplace_back();
                if (during_wait(static_cast<int>(waits.size()))) {
                    const auto ready = wait_for_dock_event(window, monotonic_now() + 5s);
                    if (!ready) return ready;
                    if (*ready == DockWait::Ready && elapsed + 1000000 < deadline) {
                        elapsed += 1000000;
                        waits.back().woken = true;
                        return DockWait::Ready;
                    }
                }
                elapsed = std::max(elapsed, deadline);
                return DockWait::TimedOut;
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

struct WaitCase {
    bool seconds_mode;
    int second;
    int microsecond;
    int expected_microseconds;
};

void PrintTo(const WaitCase& c, std::ostream* out)
{
    *out << (c.seconds_mode ? "seconds " : "minutes ") << c.second << "s+" << c.microsecond << "us";
}

class PassWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(PassWait, WakesJustAfterTheNextBoundary)
{
    const auto& c = GetParam();
    const auto wait = pass_wait(c.seconds_mode, c.second, c.microsecond * 1000);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(wait).count(),
              c.expected_microseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PassWait,
    ::testing::Values(
        // With seconds: 2 ms past the next boundary, to the nanosecond; 10 ms when that is nearer.
        WaitCase{true, 0, 0, 1002000}, WaitCase{true, 30, 500000, 502000},
        WaitCase{true, 30, 500999, 501001}, WaitCase{true, 12, 990000, 12000},
        WaitCase{true, 12, 992000, 10000}, WaitCase{true, 12, 995000, 10000},
        WaitCase{true, 59, 999999, 10000},
        // Without: a second at a time, 100 ms steps in the minute's last second.
        WaitCase{false, 0, 0, 1000000}, WaitCase{false, 30, 0, 1000000},
        WaitCase{false, 58, 850000, 1000000}, WaitCase{false, 58, 950000, 950000},
        WaitCase{false, 58, 950999, 950000}, WaitCase{false, 59, 0, 900000},
        WaitCase{false, 59, 850000, 100000}, WaitCase{false, 59, 899000, 100000},
        WaitCase{false, 59, 999000, 100000}));

// Passes of the change test, each "day/hh:mm:ss" of the shown time and whether it repaints:
// 'p' yes, '.' no, 'f' forced (and so yes).
struct TurnCase {
    bool seconds_mode;
    const char* passes;
};

void PrintTo(const TurnCase& c, std::ostream* out)
{
    *out << (c.seconds_mode ? "seconds: " : "minutes: ") << c.passes;
}

class RepaintTurn : public ::testing::TestWithParam<TurnCase> {};

TEST_P(RepaintTurn, ComesWhenTheShownTextMovesOrIsForced)
{
    RepaintMarks marks; // the first pass always paints: nothing was shown yet
    std::istringstream passes(GetParam().passes);
    std::string when;
    char turn = '.';
    while (passes >> when >> turn) {
        std::tm shown{};
        ASSERT_EQ(std::sscanf(when.c_str(), "%d/%d:%d:%d", &shown.tm_yday, &shown.tm_hour,
                              &shown.tm_min, &shown.tm_sec),
                  4);
        EXPECT_EQ(take_repaint_turn(marks, GetParam().seconds_mode, shown, turn == 'f'),
                  turn != '.')
            << when;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RepaintTurn,
    ::testing::Values(
        // The same second of the next minute is still a change from the last one painted.
        TurnCase{true, "0/12:05:10 p  0/12:05:10 .  0/12:06:10 p"},
        // The system zone changed by an hour, then the clock was set a day on.
        TurnCase{true, "0/12:05:10 p  0/13:05:10 p  1/13:05:10 p  1/13:05:10 ."},
        TurnCase{false, "0/12:05:10 p  0/13:05:10 p  1/13:05:10 p  1/13:05:10 ."},
        // Forcing moves the mark too.
        TurnCase{true, "0/00:00:07 p  0/00:00:07 f  0/00:00:07 ."}));

TEST(ClickPace, TakesABurstAndThenOneClickAnInterval)
{
    ClickPace pace;
    const MonotonicTime start{std::chrono::hours(1)};
    for (int i = 0; i < CLICK_BURST; ++i)
        EXPECT_TRUE(take_click(pace, start)) << "click " << i << " of the burst";
    EXPECT_FALSE(take_click(pace, start));
    EXPECT_FALSE(take_click(pace, start + CLICK_INTERVAL / 2));
    EXPECT_TRUE(take_click(pace, start + CLICK_INTERVAL));
    EXPECT_FALSE(take_click(pace, start + CLICK_INTERVAL));
    // After a quiet spell the whole burst is there again, and no more.
    const MonotonicTime later = start + 100 * CLICK_INTERVAL;
    int taken = 0;
    for (int i = 0; i < 2 * CLICK_BURST; ++i)
        taken += take_click(pace, later) ? 1 : 0;
    EXPECT_EQ(taken, CLICK_BURST);
}

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

    void close_window_from_outside() { request_close(other->get(), window->face_window); }

    // Closes the window during the given wait.
    void close_during(int wait_number)
    {
        time.during_wait = [this, wait_number](int waits) {
            if (waits < wait_number) return false;
            close_window_from_outside();
            return true;
        };
    }

    // A hangup during the first wait, then a close request during the third.
    void reload_once_then_close()
    {
        time.start = Instant{NOON, 0};
        time.during_wait = [this](int waits) {
            if (waits == 1) reload_requested.store(true);
            if (waits < 3) return false;
            close_window_from_outside();
            return true;
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

struct SecondsCase {
    std::int64_t wall_slower_per_second; // nanoseconds
    int latest_ms;                       // after its boundary, by the wall clock
    std::size_t waits_per_second;
};

void PrintTo(const SecondsCase& c, std::ostream* out)
{
    *out << "wall clock " << c.wall_slower_per_second / 1000 << " us/s slower";
}

class SecondsMode : public MainLoop, public ::testing::WithParamInterface<SecondsCase> {};

TEST_P(SecondsMode, PaintsEverySecondOnceSoonAfterItsBoundary)
{
    const SecondsCase& c = GetParam();
    time.start = Instant{NOON, 300000000};
    time.wall_slower_per_second = c.wall_slower_per_second;
    close_during(200);
    Settings settings;
    settings.seconds = true;
    ASSERT_EQ(run(settings).value_or(-1), 0);

    const auto painted = time.repaints();
    ASSERT_GE(painted.size(), 60u);
    EXPECT_EQ(millis(painted.front()), NOON * 1000 + 300); // the first pass paints at once
    for (std::size_t i = 1; i < painted.size(); ++i) {
        EXPECT_EQ(painted[i].seconds, painted[i - 1].seconds + 1) << "repaint " << i;
        EXPECT_LE(painted[i].nanoseconds, c.latest_ms * 1000000) << "repaint " << i << " came late";
    }
    EXPECT_LE(time.waits.size(), c.waits_per_second * painted.size());
}

INSTANTIATE_TEST_SUITE_P(Drift, SecondsMode,
                         ::testing::Values(SecondsCase{0, 3, 1},
                                           // as fast as NTP slews: still inside the margin
                                           SecondsCase{500000, 3, 1},
                                           // far outside it: one retry 10 ms later each second
                                           SecondsCase{5000000, 10, 2}));

struct MinuteCase {
    const char* zone;
    std::optional<std::int32_t> timezone;
    std::int64_t start;
    std::int64_t shown_minute_turns; // when the minute on the face changes
};

void PrintTo(const MinuteCase& c, std::ostream* out)
{
    *out << c.zone << (c.timezone ? " shown at a fixed offset" : "") << " from +" << c.start - NOON;
}

class MinuteMode : public MainLoop, public ::testing::WithParamInterface<MinuteCase> {};

TEST_P(MinuteMode, PaintsAgainOnlyAfterTheShownMinuteTurns)
{
    const MinuteCase& c = GetParam();
    const ScopedZone local_zone(c.zone);
    time.start = Instant{c.start, 0};
    time.during_wait = [this, &c](int) {
        if (time.now().seconds < c.shown_minute_turns + 5) return false;
        close_window_from_outside();
        return true;
    };
    Settings settings;
    settings.timezone = c.timezone;
    ASSERT_EQ(run(settings).value_or(-1), 0);

    const auto painted = time.repaints();
    ASSERT_EQ(painted.size(), 2u);
    EXPECT_EQ(millis(painted[0]), c.start * 1000);
    EXPECT_GE(millis(painted[1]), c.shown_minute_turns * 1000);
    EXPECT_LE(millis(painted[1]), c.shown_minute_turns * 1000 + 100);
    // Idle: about one wake-up a second, ten in the minute's last second.
    EXPECT_LE(time.waits.size(), static_cast<std::size_t>(c.shown_minute_turns + 5 - c.start + 10));
}

INSTANTIATE_TEST_SUITE_P(
    Zones, MinuteMode,
    ::testing::Values(MinuteCase{"UTC", std::nullopt, NOON + 30, NOON + 60},
                      // A local zone 30 s east of UTC turns its minutes at half past.
                      MinuteCase{"ABC-0:00:30", std::nullopt, NOON + 10, NOON + 30},
                      // Shown in UTC, the face turns with UTC, whatever the local zone does.
                      MinuteCase{"ABC-0:00:30", 0, NOON + 10, NOON + 60}));

TEST_F(MainLoop, AClickDuringTheWaitRunsItsCommandAtOnceAndTheWaitKeepsItsDeadline)
{
    const std::string marker = config_home.file("middle-ran");
    Settings settings;
    settings.middle_click = "touch '" + marker + "'"; // instead of a reload
    time.start = Instant{NOON, 300000000};
    bool ran_before_the_next_wait = false;
    time.during_wait = [&](int waits) {
        if (waits == 1) {
            fake_click(other->get(), 48, 48, 2);
            return true;
        }
        ran_before_the_next_wait = wait_until([&] { return access(marker.c_str(), F_OK) == 0; });
        close_window_from_outside();
        return true;
    };
    ASSERT_EQ(run(settings).value_or(-1), 0);

    ASSERT_EQ(time.waits.size(), 2u);
    EXPECT_TRUE(time.waits[0].woken);
    EXPECT_TRUE(ran_before_the_next_wait);
    EXPECT_EQ(err.str(), "kestrelDial: exiting\n");
    // The click came 1 ms into a wait of a second and the loop then waited on to the same
    // deadline, without a repaint of its own.
    EXPECT_EQ(time.waits[0].deadline, 1000000000);
    EXPECT_EQ(time.waits[1].began, 1000000);
    EXPECT_EQ(time.waits[1].deadline, time.waits[0].deadline);
    EXPECT_EQ(time.repaints().size(), 1u);
}

TEST_F(MainLoop, WindowDestroyedByAnotherClientEndsSilently)
{
    time.start = Instant{NOON, 0};
    time.during_wait = [this](int waits) {
        if (waits != 2) return false;
        destroy_window(other->get(), window->face_window);
        return true;
    };
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);
    EXPECT_EQ(err.str(), "");
}

TEST_F(MainLoop, HangupReloadsOnceAndForcesARepaintInTheSamePass)
{
    install_hangup_handler();
    time.start = Instant{NOON + 10, 0};
    time.during_wait = [this](int waits) {
        // Several signals during one wait make one reload, when the wait has run out.
        if (waits == 3) {
            std::raise(SIGHUP);
            std::raise(SIGHUP);
        }
        if (waits < 6) return false;
        close_window_from_outside();
        return true;
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
    EXPECT_EQ(err.str(), "kestrelDial: failed to write config: cannot write " +
                             config_home.file("blocker") +
                             "/kestrelDial/config: Not a directory (os error 20)\n");
}

TEST_F(MainLoop, QuietInTheReloadedFileSilencesThatVeryReload)
{
    write_file(config_home.path + "/kestrelDial/config", "quiet = true\n");
    reload_once_then_close();
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);
    EXPECT_EQ(err.str(), ""); // neither the reload line nor "exiting"
}

TEST_F(MainLoop, ExposuresOfAPassRepaintOnceAtOnceButNotRightAfterAnotherFrame)
{
    time.start = Instant{NOON + 5, 0};
    time.during_wait = [this](int waits) {
        if (waits == 2 || waits == 3) {
            // A series (2, 1, 0) and two more during one wait; then one more 1 ms after the
            // frame that answered them.
            for (const int count : waits == 2 ? std::vector{2, 1, 0, 0, 0} : std::vector{0})
                send_expose(other->get(), window->face_window, 96, 96,
                            static_cast<std::uint16_t>(count));
            sync(other->get());
            return true;
        }
        if (waits < 5) return false;
        close_window_from_outside();
        return true;
    };
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);
    // The pass that the exposures woke reads the clock for its paint and for its change test,
    // nothing more, and waits on to the deadline it had.
    ASSERT_GE(time.waits.size(), 5u);
    EXPECT_TRUE(time.waits[1].woken);
    EXPECT_EQ(time.passes[2].size(), 2u);
    EXPECT_EQ(time.waits[2].deadline, time.waits[1].deadline);
    // The next exposure waits until 50 ms after that frame.
    EXPECT_TRUE(time.waits[2].woken);
    EXPECT_EQ(time.passes[3].size(), 1u);
    EXPECT_EQ(time.waits[3].deadline, time.waits[2].began + 50000000);
    EXPECT_EQ(time.passes[4].size(), 2u);
    EXPECT_EQ(time.repaints().size(), 3u); // first pass + two for the exposures
}

TEST_F(MainLoop, MiddleClickWithoutACommandReloadsAndRepaintsAtOnce)
{
    write_file(config_home.path + "/kestrelDial/config", "# nothing set\n");
    time.start = Instant{NOON, 0};
    time.during_wait = [this](int waits) {
        if (waits == 1) fake_click(other->get(), 48, 48, 2);
        if (waits == 2) return false;
        if (waits >= 3) close_window_from_outside();
        return true;
    };
    ASSERT_EQ(run(Settings{}).value_or(-1), 0);
    EXPECT_EQ(err.str(), "kestrelDial: config reloaded\nkestrelDial: exiting\n");
    // The woken pass repainted, and planned its wait afresh from there.
    ASSERT_GE(time.waits.size(), 2u);
    EXPECT_TRUE(time.waits[0].woken);
    EXPECT_EQ(time.passes[1].size(), 2u);
    EXPECT_EQ(time.waits[1].deadline, time.waits[1].began + 1000000000);
}

TEST_F(MainLoop, LostServerEndsTheLoopWithAnError)
{
    XvfbServer own_server;
    auto own_window = open_or_fail(own_server.display());
    time.start = Instant{NOON, 0};
    time.during_wait = [&](int waits) {
        if (waits != 2) return false;
        own_server.kill_now();
        return true;
    };
    const auto ended = run_main_loop(own_window, test_font(), buffer, Settings{}, {"kestrelDial"},
                                     env, err, time.seams());
    ASSERT_FALSE(ended.has_value());
    EXPECT_FALSE(ended.error().text.empty());
}

} // namespace
} // namespace kd::test
