#include "dock/present.hpp"
#include "dock_fixture.hpp"

#include <atomic>
#include <csignal>
#include <ctime>

namespace kd::test {
namespace {

using Kind = DockEvent::Kind;
using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// Mapping the window exposes it once; tests that count exposures take that one first.
void take_map_exposure(DockWindow& window)
{
    const auto seen = events_until(window, Kind::Exposed);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().kind, Kind::Exposed);
}

struct ClickCase {
    std::int16_t x;
    std::int16_t y;
    std::uint8_t button;
    std::optional<std::uint8_t> click; // what the window reports, if anything
};

void PrintTo(const ClickCase& press, std::ostream* out)
{
    *out << "button " << int{press.button} << " at " << press.x << "," << press.y;
}

class ClickTest : public DockOnXvfb, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(ClickTest, OnlyButtonsOneToThreeInsideTheRingAreClicks)
{
    const ClickCase& press = GetParam();
    DockWindow window = open_or_fail(display());
    XConnection mouse(display());
    fake_click(mouse.get(), press.x, press.y, press.button);
    // A middle click well inside marks the end of what the press above may have caused.
    fake_click(mouse.get(), 48, 48, 2);

    const auto seen = events_until(window, Kind::Click);
    std::vector<std::uint8_t> clicks;
    for (const DockEvent& event : seen) {
        if (event.kind == Kind::Click) clicks.push_back(event.button);
    }
    if (press.click) {
        ASSERT_EQ(clicks, std::vector<std::uint8_t>{*press.click});
        clicks.clear();
        const auto marker = events_until(window, Kind::Click);
        ASSERT_FALSE(marker.empty());
        EXPECT_EQ(marker.back().button, 2);
    } else {
        EXPECT_EQ(clicks, std::vector<std::uint8_t>{2});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Presses, ClickTest,
    ::testing::Values(ClickCase{48, 48, 1, 1}, ClickCase{48, 48, 2, 2}, ClickCase{48, 48, 3, 3},
                      ClickCase{4, 4, 1, 1}, ClickCase{91, 91, 3, 3}, // corners of the inner area
                      ClickCase{48, 48, 4, std::nullopt}, ClickCase{48, 48, 5, std::nullopt},
                      ClickCase{3, 48, 1, std::nullopt}, ClickCase{48, 92, 1, std::nullopt},
                      ClickCase{0, 0, 3, std::nullopt}, ClickCase{95, 95, 2, std::nullopt}));

TEST_F(DockOnXvfb, DeleteWindowMessageOfAnyTypeIsACloseRequest)
{
    DockWindow window = open_or_fail(display());
    XConnection wm(display());
    // Another first item is nothing; the delete atom under an odd message type still closes.
    send_client_message(wm.get(), window.face_window, intern_atom(wm.get(), "WM_PROTOCOLS"),
                        {intern_atom(wm.get(), "WM_TAKE_FOCUS"), 0, 0, 0, 0});
    send_client_message(wm.get(), window.face_window, XCB_ATOM_STRING,
                        {window.wm_delete_window, 0, 0, 0, 0});
    const auto seen = events_until(window, Kind::CloseRequest);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().kind, Kind::CloseRequest);
    for (std::size_t i = 0; i + 1 < seen.size(); ++i)
        EXPECT_NE(seen[i].kind, Kind::CloseRequest);
}

TEST_F(DockOnXvfb, DestroyedByAnotherClientIsReported)
{
    DockWindow window = open_or_fail(display());
    XConnection other(display());
    destroy_window(other.get(), window.face_window);
    const auto seen = events_until(window, Kind::WindowDestroyed);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().kind, Kind::WindowDestroyed);
}

TEST_F(DockOnXvfb, SeriesOfExposuresGivesOneExposedAtItsEnd)
{
    DockWindow window = open_or_fail(display());
    take_map_exposure(window);
    XConnection other(display());
    for (const std::uint16_t count : {std::uint16_t{2}, std::uint16_t{1}, std::uint16_t{0}})
        send_expose(other.get(), window.face_window, 96, 96, count);
    send_client_message(other.get(), window.face_window, XCB_ATOM_ATOM,
                        {window.wm_delete_window, 0, 0, 0, 0});
    const auto seen = events_until(window, Kind::CloseRequest);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, Kind::Exposed);
}

TEST_F(DockOnXvfb, ProtocolErrorsAreIgnored)
{
    DockWindow window = open_or_fail(display(), 96);
    take_map_exposure(window);
    // Depth 1 does not match the window: the server answers with an error event.
    PixelBuffer frame = make_pixel_buffer(96, 96, window.lsb_first);
    window.depth = 1;
    EXPECT_TRUE(present_frame(window, frame));
    sync(dock_xcb_connection(window));
    XConnection other(display());
    send_client_message(other.get(), window.face_window, XCB_ATOM_ATOM,
                        {window.wm_delete_window, 0, 0, 0, 0});
    const auto seen = events_until(window, Kind::CloseRequest);
    ASSERT_EQ(seen.size(), 1u);
}

TEST_F(DockOnXvfb, NothingPendingWhenTheQueueIsEmpty)
{
    DockWindow window = open_or_fail(display());
    take_map_exposure(window);
    XConnection other(display());
    sync(other.get());
    // Without anything sent to the window, reading never blocks and finds nothing of interest.
    for (int i = 0; i < 50; ++i) {
        const auto event = next_dock_event(window);
        ASSERT_TRUE(event);
        if (event->kind == Kind::NothingPending) return;
        EXPECT_EQ(event->kind, Kind::Ignored);
    }
    ADD_FAILURE() << "the queue never ran dry";
}

// Where a close request is when the wait begins.
enum class Pending { Nothing, OnTheSocket, InLibxcbsQueue };

void PrintTo(Pending pending, std::ostream* out)
{
    *out << (pending == Pending::Nothing       ? "nothing"
             : pending == Pending::OnTheSocket ? "on the socket"
                                               : "in libxcb's queue");
}

void drain_to_nothing(DockWindow& window)
{
    for (;;) {
        const auto event = next_dock_event(window);
        ASSERT_TRUE(event);
        if (event->kind == Kind::NothingPending) return;
    }
}

class WaitTest : public DockOnXvfb, public ::testing::WithParamInterface<Pending> {};

TEST_P(WaitTest, ReadyExactlyWhenThereIsAnEventToTake)
{
    const Pending pending = GetParam();
    DockWindow window = open_or_fail(display());
    take_map_exposure(window);
    drain_to_nothing(window);
    XConnection wm(display());
    if (pending != Pending::Nothing) {
        send_client_message(wm.get(), window.face_window, XCB_ATOM_ATOM,
                            {window.wm_delete_window, 0, 0, 0, 0});
    }
    // A round trip on the window's own connection reads the event (sent before the reply)
    // into libxcb's queue and leaves the socket empty, as writing a frame can.
    if (pending == Pending::InLibxcbsQueue) sync(dock_xcb_connection(window));

    const auto deadline = Steady::now() + (pending == Pending::Nothing ? 100ms : 10s);
    const auto waited = wait_for_dock_event(window, deadline);
    ASSERT_TRUE(waited) << waited.error().text;
    if (pending == Pending::Nothing) {
        EXPECT_EQ(*waited, DockWait::TimedOut);
        EXPECT_GE(Steady::now(), deadline);
        return;
    }
    ASSERT_EQ(*waited, DockWait::Ready);
    // Ready means taking needs no further waiting.
    for (;;) {
        const auto event = next_dock_event(window);
        ASSERT_TRUE(event);
        ASSERT_NE(event->kind, Kind::NothingPending);
        if (event->kind == Kind::CloseRequest) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Pending, WaitTest,
                         ::testing::Values(Pending::Nothing, Pending::OnTheSocket,
                                           Pending::InLibxcbsQueue));

std::atomic<int> hangups{0};
void count_hangup(int)
{
    hangups.fetch_add(1);
}

TEST_F(DockOnXvfb, SignalsNeitherEndNorShortenTheWait)
{
    DockWindow window = open_or_fail(display());
    take_map_exposure(window);
    drain_to_nothing(window);

    // SA_RESTART as the clock installs it: poll is interrupted all the same.
    struct sigaction counting{};
    counting.sa_handler = count_hangup;
    sigemptyset(&counting.sa_mask);
    counting.sa_flags = SA_RESTART;
    struct sigaction previous{};
    sigaction(SIGHUP, &counting, &previous);
    sigevent every{};
    every.sigev_notify = SIGEV_SIGNAL;
    every.sigev_signo = SIGHUP;
    timer_t timer{};
    ASSERT_EQ(timer_create(CLOCK_MONOTONIC, &every, &timer), 0);
    const itimerspec period{{0, 20000000}, {0, 20000000}};
    hangups.store(0);
    timer_settime(timer, 0, &period, nullptr);

    const auto deadline = Steady::now() + 200ms;
    const auto waited = wait_for_dock_event(window, deadline);
    const auto ended = Steady::now();
    timer_delete(timer);
    sigaction(SIGHUP, &previous, nullptr);

    ASSERT_TRUE(waited) << waited.error().text;
    EXPECT_EQ(*waited, DockWait::TimedOut);
    EXPECT_GE(ended, deadline);
    EXPECT_GE(hangups.load(), 2) << "the signals did not come during the wait";
}

TEST(DockEventAfterServerDeath, KilledServerEndsTheWaitAndGivesAnError)
{
    XvfbServer server;
    DockWindow window = open_or_fail(server.display());
    server.kill_now();
    std::optional<Error> error;
    // The hang-up ends the wait; reading then tells what happened (after the events still queued).
    for (int wait = 0; wait < 100 && !error; ++wait) {
        const auto waited = wait_for_dock_event(window, Steady::now() + 10s);
        ASSERT_TRUE(waited);
        ASSERT_EQ(*waited, DockWait::Ready);
        const auto event = next_dock_event(window);
        if (!event) error = event.error();
    }
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, Error::Kind::Description);
    EXPECT_EQ(error->text, "connection to the X server was lost");
}

} // namespace
} // namespace kd::test
