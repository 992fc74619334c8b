#include "dock/present.hpp"
#include "dock_fixture.hpp"

namespace kd::test {
namespace {

using Kind = DockEvent::Kind;

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
                      ClickCase{4, 4, 1, 1}, ClickCase{91, 91, 3, 3},           // corners of the inner area
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
    send_client_message(wm.get(), window.face_window, XCB_ATOM_STRING, {window.wm_delete_window, 0, 0, 0, 0});
    const auto seen = events_until(window, Kind::CloseRequest);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().kind, Kind::CloseRequest);
    for (std::size_t i = 0; i + 1 < seen.size(); ++i) EXPECT_NE(seen[i].kind, Kind::CloseRequest);
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
    for (const std::uint16_t count : {2, 1, 0}) send_expose(other.get(), window.face_window, 96, 96, count);
    send_client_message(other.get(), window.face_window, XCB_ATOM_ATOM, {window.wm_delete_window, 0, 0, 0, 0});
    const auto seen = events_until(window, Kind::CloseRequest);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, Kind::Exposed);
}

TEST_F(DockOnXvfb, ProtocolErrorsAreIgnored)
{
    DockWindow window = open_or_fail(display(), 96);
    take_map_exposure(window);
    // Depth 1 does not match the window: the server answers with an error event.
    PixelBuffer frame{96, 96, window.lsb_first, std::vector<std::uint8_t>(4 * 96 * 96)};
    window.depth = 1;
    EXPECT_TRUE(present_frame(window, frame));
    sync(dock_xcb_connection(window));
    XConnection other(display());
    send_client_message(other.get(), window.face_window, XCB_ATOM_ATOM, {window.wm_delete_window, 0, 0, 0, 0});
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

TEST(DockEventAfterServerDeath, KilledServerGivesAnError)
{
    XvfbServer server;
    DockWindow window = open_or_fail(server.display());
    server.kill_now();
    std::optional<Error> error;
    wait_until([&] {
        const auto event = next_dock_event(window);
        if (!event) error = event.error();
        return error.has_value();
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, Error::Kind::Description);
    EXPECT_EQ(error->text, "connection to the X server was lost");
}

} // namespace
} // namespace kd::test
