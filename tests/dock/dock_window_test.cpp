#include "dock_fixture.hpp"
#include "support/child_process.hpp"
#include "support/fake_x_server.hpp"
#include "support/temp_dir.hpp"

#include <fcntl.h>

#include <regex>
#include <tuple>

namespace kd::test {
namespace {

using Words = std::vector<std::uint32_t>;

class DockWindowTest : public DockOnXvfb, public ::testing::WithParamInterface<std::uint64_t> {};

// What another client sees of a window: x, y, width, height, border width, depth, parent,
// class and map state.
using Placement = std::tuple<int, int, int, int, int, int, xcb_window_t, int, int>;

Placement placement(xcb_connection_t* c, xcb_window_t window)
{
    const auto geometry = get_geometry(c, window);
    const auto tree = query_tree(c, window);
    const auto attributes = get_window_attributes(c, window);
    if (!geometry || !tree || !attributes) return {};
    return Placement(geometry->x, geometry->y, geometry->width, geometry->height,
                     geometry->border_width, geometry->depth, tree->parent,
                     attributes->window_class, attributes->map_state);
}

// A property's type and format, and its value as bytes (format 8) or 32-bit words; all empty
// for a property that the window does not have.
using Stored = std::tuple<xcb_atom_t, int, std::string, Words>;

Stored stored(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property)
{
    const auto value = get_property(c, window, property);
    if (!value) return {};
    if (value->format == 32) return {value->type, 32, "", value->words()};
    return {value->type, value->format, std::string(value->bytes.begin(), value->bytes.end()), {}};
}

TEST_P(DockWindowTest, WindowsAndPropertiesAreThoseOfADockapp)
{
    const auto size = static_cast<int>(GetParam());
    DockWindow window = open_or_fail(display(), GetParam());
    XConnection observer(display());
    xcb_connection_t* c = observer.get();

    // Both mapped, the input window on top of the face, 4 pixels in from each side.
    EXPECT_EQ(placement(c, window.face_window),
              (Placement{0, 0, size, size, 0, 24, observer.root(), XCB_WINDOW_CLASS_INPUT_OUTPUT,
                         XCB_MAP_STATE_VIEWABLE}));
    EXPECT_EQ(placement(c, window.input_window),
              (Placement{4, 4, size - 8, size - 8, 0, 0, window.face_window,
                         XCB_WINDOW_CLASS_INPUT_ONLY, XCB_MAP_STATE_VIEWABLE}));
    EXPECT_EQ(window.depth, 24);
    EXPECT_EQ(window.size, GetParam());
    // The painter's own layout: no channel tables.
    EXPECT_FALSE(window.channels);
    // No program started later (a click command) inherits the connection.
    EXPECT_TRUE(fcntl(xcb_get_file_descriptor(dock_xcb_connection(window)), F_GETFD) & FD_CLOEXEC);

    const auto face = window.face_window;
    const auto s = static_cast<std::uint32_t>(size);
    EXPECT_EQ(stored(c, face, XCB_ATOM_WM_CLASS),
              (Stored{XCB_ATOM_STRING, 8, std::string("kestreldial\0kestrelDial\0", 24), {}}));
    EXPECT_EQ(stored(c, face, XCB_ATOM_WM_NAME), (Stored{XCB_ATOM_STRING, 8, "kestrelDial", {}}));
    EXPECT_EQ(stored(c, face, XCB_ATOM_WM_HINTS),
              (Stored{XCB_ATOM_WM_HINTS, 32, "", {0x43u, 1u, 0u, 0u, 0u, 0u, 0u, 0u, face}}));
    EXPECT_EQ(stored(c, face, XCB_ATOM_WM_NORMAL_HINTS),
              (Stored{intern_atom(c, "WM_SIZE_HINTS"),
                      32,
                      "",
                      {0x30u, 0u, 0u, 0u, 0u, s, s, s, s, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u}}));
    const xcb_atom_t delete_atom = intern_atom(c, "WM_DELETE_WINDOW");
    EXPECT_EQ(stored(c, face, intern_atom(c, "WM_PROTOCOLS")),
              (Stored{XCB_ATOM_ATOM, 32, "", {delete_atom}}));
    EXPECT_EQ(window.wm_delete_window, delete_atom);
    EXPECT_FALSE(get_property(c, face, intern_atom(c, "_HALCYON_SLIT")));
}

INSTANTIATE_TEST_SUITE_P(Sizes, DockWindowTest, ::testing::Values(96u, 1024u));

struct SlitCase {
    Arguments args;
    std::optional<std::uint32_t> expected;
};

void PrintTo(const SlitCase& slit, std::ostream* out)
{
    for (const auto& arg : slit.args)
        *out << '"' << arg << "\" ";
}

class SlitPropertyTest : public DockOnXvfb, public ::testing::WithParamInterface<SlitCase> {};

TEST_P(SlitPropertyTest, HalcyonSlitFollowsTheFirstDockOption)
{
    const SlitCase& slit = GetParam();
    EXPECT_EQ(slit_number(slit.args), slit.expected);
    DockWindow window = open_or_fail(display(), 96, slit.args);
    XConnection observer(display());
    Stored expected;
    if (slit.expected) expected = {XCB_ATOM_CARDINAL, 32, "", {*slit.expected}};
    EXPECT_EQ(
        stored(observer.get(), window.face_window, intern_atom(observer.get(), "_HALCYON_SLIT")),
        expected);
}

INSTANTIATE_TEST_SUITE_P(
    DockValues, SlitPropertyTest,
    ::testing::Values(SlitCase{{"kestrelDial", "--dock", "2"}, 2u},
                      SlitCase{{"kestrelDial", "--dock", "+3"}, 3u},
                      SlitCase{{"kestrelDial", "--dock", "0"}, 0u},
                      SlitCase{{"kestrelDial", "--dock", "4294967295"}, 4294967295u},
                      SlitCase{{"kestrelDial", "--dock", "4294967296"}, std::nullopt},
                      SlitCase{{"kestrelDial", "--dock", "x", "--dock", "2"}, std::nullopt}));

TEST(DockWindowOnFreshServer, WithoutDockTheSlitAtomIsNeverInterned)
{
    XvfbServer fresh;
    {
        XConnection observer(fresh.display());
        ASSERT_EQ(intern_atom(observer.get(), "_HALCYON_SLIT", true), XCB_NONE);
    }
    DockWindow window = open_or_fail(fresh.display(), 96, {"kestrelDial", "--dock", "x"});
    XConnection observer(fresh.display());
    EXPECT_EQ(intern_atom(observer.get(), "_HALCYON_SLIT", true), XCB_NONE);
    // The same check sees the atom once a window asks for a slit.
    DockWindow docked = open_or_fail(fresh.display(), 96, {"kestrelDial", "--dock", "1"});
    EXPECT_NE(intern_atom(observer.get(), "_HALCYON_SLIT", true), XCB_NONE);
}

TEST(DockWindowOnFreshServer, ShallowScreensAreRefusedWithThePixelFormatMessage)
{
    for (const auto& [depth, line] :
         {std::pair{16,
                    "Error: \"Unsupported pixel format: 16bpp at depth 16. Expected 32bpp.\"\n"},
          std::pair{8,
                    "Error: \"Unsupported pixel format: 8bpp at depth 8. Expected 32bpp.\"\n"}}) {
        XvfbServer shallow("640x480x" + std::to_string(depth));
        const auto window =
            open_dock_window(settings_of_size(96), {"kestrelDial"}, shallow.display().c_str());
        ASSERT_FALSE(window);
        EXPECT_EQ(error_line(window.error()), line);
        // Nothing was created: the server has no window by that name.
        XConnection observer(shallow.display());
        EXPECT_FALSE(find_window_by_name(observer.get(), observer.root(), "kestrelDial"));
    }
}

struct ConnectCase {
    std::string name;
    std::string answer; // what a fake server answers; empty: no fake server
    // DISPLAY (nothing: unset) and the error line's text, "{d}" standing for the fake
    // server's display name, or the suite's Xvfb's when there is no fake server.
    std::optional<std::string> display;
    std::string error;
};

void PrintTo(const ConnectCase& row, std::ostream* out)
{
    *out << row.name;
}

class ConnectFailure : public DockOnXvfb, public ::testing::WithParamInterface<ConnectCase> {};

// The whole program runs, as users meet these servers: the line, the status, and no crash,
// hang or read outside the set-up (the sanitizer build sees those).
TEST_P(ConnectFailure, EndsWithStatusOneAndTheErrorLine)
{
    const ConnectCase& row = GetParam();
    std::optional<FakeXServer> fake;
    if (!row.answer.empty()) fake.emplace(row.answer);
    const std::string shown = fake ? fake->display() : display();
    const auto named = [&](const std::string& text) {
        return std::regex_replace(text, std::regex(R"(\{d\})"), shown);
    };
    std::vector<std::string> env{"HOME=/nonexistent", "PATH=/usr/bin:/bin"};
    if (row.display) env.push_back("DISPLAY=" + named(*row.display));
    const auto result = run_program({KD_BINARY, "--quiet", "--font", KD_TEST_FONT}, env, "",
                                    std::chrono::seconds(30));
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "Error: " + named(row.error) + "\n");
}

const std::string MALFORMED = "cannot open display '{d}': the X server sent a malformed "
                              "connection set-up: ";
const std::string CUT_OR_REFUSED =
    "cannot open display '{d}': the X server answered but the connection set-up failed (it "
    "was cut short, or refused without a reason)";

INSTANTIATE_TEST_SUITE_P(
    Displays, ConnectFailure,
    ::testing::Values(
        ConnectCase{"unset", "", std::nullopt, "cannot open display (DISPLAY is not set)"},
        ConnectCase{"nobody", "", ":54321",
                    "cannot open display ':54321': no X server answered there"},
        ConnectCase{"unreadable", "", "\x1b]0;T\a:x",
                    "cannot open display '\\u{1b}]0;T\\u{7}:x': not a valid display name"},
        // Numbers past an int are named as written, not as libxcb's wrapped value.
        ConnectCase{"screen 3", "", "{d}.3", "screen 3 does not exist on display '{d}.3'"},
        ConnectCase{"screen 999999999999", "", "{d}.999999999999",
                    "screen 999999999999 does not exist on display '{d}.999999999999'"},
        ConnectCase{"screen 2^32", "", "{d}.4294967296",
                    "screen 4294967296 does not exist on display '{d}.4294967296'"},
        ConnectCase{"65535 visuals",
                    setup_reply([](SetupRecords& p) { p.depth.visuals_len = 65535; }), "{d}",
                    MALFORMED + "its 132 bytes cannot hold the visuals it announces for depth 24 "
                                "of screen 0 (65535)"},
        ConnectCase{"255 depths",
                    setup_reply([](SetupRecords& p) { p.screen.allowed_depths_len = 255; }), "{d}",
                    MALFORMED + "its 132 bytes cannot hold the depths it announces of screen 0 "
                                "(255)"},
        ConnectCase{"255 screens", setup_reply([](SetupRecords& p) { p.setup.roots_len = 255; }),
                    "{d}", MALFORMED + "its 132 bytes cannot hold the screens it announces (255)"},
        ConnectCase{"no screen bytes", setup_reply({}, 60), "{d}",
                    MALFORMED + "its 60 bytes cannot hold the screens it announces (1)"},
        ConnectCase{"vendor 65535",
                    setup_reply([](SetupRecords& p) { p.setup.vendor_len = 65535; }), "{d}",
                    MALFORMED + "its 132 bytes cannot hold the vendor name it announces in bytes "
                                "(65535)"},
        ConnectCase{"255 formats",
                    setup_reply([](SetupRecords& p) { p.setup.pixmap_formats_len = 255; }), "{d}",
                    MALFORMED + "its 132 bytes cannot hold the pixmap formats it announces (255)"},
        // libxcb would deadlock on its own lock at the first request.
        ConnectCase{"request of 4 bytes",
                    setup_reply([](SetupRecords& p) { p.setup.maximum_request_length = 1; }), "{d}",
                    MALFORMED + "its longest request is 4 bytes, under the protocol's least of "
                                "16384"},
        ConnectCase{"byte order 2",
                    setup_reply([](SetupRecords& p) { p.setup.image_byte_order = 2; }), "{d}",
                    MALFORMED + "its image byte order is 2, neither LSBFirst (0) nor MSBFirst (1)"},
        ConnectCase{"cut at 8", setup_reply().substr(0, 8), "{d}", CUT_OR_REFUSED},
        ConnectCase{"cut at 131", setup_reply().substr(0, SETUP_REPLY_BYTES - 1), "{d}",
                    CUT_OR_REFUSED},
        ConnectCase{"refused without reason", setup_refusal(""), "{d}", CUT_OR_REFUSED},
        // The server's reason reaches the terminal as one line, escaped: no control sequence
        // (ESC [ or the one-character CSI) gets through.
        ConnectCase{"refused", setup_refusal("no \x1b[2Jway \"here\" \u009b2J"), "{d}",
                    "cannot open display '{d}': the X server answered but refused the "
                    "connection set-up (\"no  [2Jway \\\"here\\\" \\u{9b}2J\"); this usually means "
                    "missing or wrong authorization: check XAUTHORITY and 'xauth list'"},
        // Sent after the first frame: libxcb reports it as memory running short (while the
        // clock waits for a reply, libxcb reads on and reports the lost connection instead).
        ConnectCase{"absurd event", setup_reply() + absurd_generic_event(), "{d}",
                    "the X server sent an event or reply of an impossible length (the "
                    "connection was closed)"}));

// The clock needs no more descriptors than a plain X client and its wake-up timer (and the
// sanitizers' runtime its pipe); what the test's runner left open is closed first.
TEST_F(DockOnXvfb, StartsWithFiveDescriptors)
{
#ifdef KD_SANITIZED_PROGRAM
    const std::string limit = "7";
#else
    const std::string limit = "5";
#endif
    const std::string script = "for fd in /proc/self/fd/*; do n=${fd##*/}; ((n > 2)) && eval "
                               "\"exec $n>&-\" 2>/dev/null; done; ulimit -n " +
                               limit + " && exec \"$0\" --font \"$1\"";
    const TempDir home;
    RunningProgram clock({"/bin/bash", "-c", script, KD_BINARY, KD_TEST_FONT},
                         {"HOME=" + home.path, "PATH=/usr/bin:/bin", "DISPLAY=" + display()});
    EXPECT_TRUE(clock.wait_for_stderr("kestrelDial: running", std::chrono::seconds(30)))
        << clock.stderr_text();
}

TEST(DockWindowUnderFluxbox, WindowIsTakenIntoTheSlit)
{
    XvfbServer server;
    FluxboxSession fluxbox(server);
    DockWindow window = open_or_fail(server.display());
    XConnection observer(server.display());
    // Compared with the slit as it is at each look, in case fluxbox made it anew meanwhile.
    xcb_window_t parent = 0;
    const bool docked = wait_until([&] {
        const auto tree = query_tree(observer.get(), window.face_window);
        parent = tree ? tree->parent : 0;
        return parent != 0 && parent == find_fluxbox_slit(observer.get()).value_or(0);
    });
    EXPECT_TRUE(docked) << "parent " << parent << ", slit at start " << fluxbox.slit_window();
    // The slit keeps the window at its one size.
    const auto geometry = get_geometry(observer.get(), window.face_window).value_or(Geometry{});
    EXPECT_EQ(geometry.width, 96);
    EXPECT_EQ(geometry.height, 96);
}

} // namespace
} // namespace kd::test
