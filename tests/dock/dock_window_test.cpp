#include "dock/dock_connection.hpp"
#include "dock_fixture.hpp"

#include <fcntl.h>

#include <cstdlib>
#include <string_view>

namespace kd::test {
namespace {

using Words = std::vector<std::uint32_t>;

class DockWindowTest : public DockOnXvfb, public ::testing::WithParamInterface<std::uint64_t> {};

TEST_P(DockWindowTest, FaceAndInputWindowsHaveTheirGeometry)
{
    const std::uint64_t size = GetParam();
    DockWindow window = open_or_fail(display(), size);
    XConnection observer(display());

    const auto face = get_geometry(observer.get(), window.face_window);
    ASSERT_TRUE(face);
    EXPECT_EQ(face->x, 0);
    EXPECT_EQ(face->y, 0);
    EXPECT_EQ(face->width, size);
    EXPECT_EQ(face->height, size);
    EXPECT_EQ(face->border_width, 0);
    EXPECT_EQ(face->depth, 24);
    EXPECT_EQ(window.depth, 24);
    // The painter's own layout: frames go out as painted, with no second buffer.
    EXPECT_FALSE(window.channels);
    EXPECT_EQ(window.size, size);
    EXPECT_EQ(query_tree(observer.get(), window.face_window)->parent, observer.root());

    const auto input = get_geometry(observer.get(), window.input_window);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->x, 4);
    EXPECT_EQ(input->y, 4);
    EXPECT_EQ(input->width, size - 8);
    EXPECT_EQ(input->height, size - 8);
    EXPECT_EQ(input->border_width, 0);
    EXPECT_EQ(query_tree(observer.get(), window.input_window)->parent, window.face_window);

    EXPECT_EQ(get_window_attributes(observer.get(), window.face_window)->window_class,
              XCB_WINDOW_CLASS_INPUT_OUTPUT);
    EXPECT_EQ(get_window_attributes(observer.get(), window.input_window)->window_class,
              XCB_WINDOW_CLASS_INPUT_ONLY);
    // Both mapped, and nothing else left unmapped: the input window sits on top of the face.
    EXPECT_EQ(get_window_attributes(observer.get(), window.face_window)->map_state,
              XCB_MAP_STATE_VIEWABLE);
    EXPECT_EQ(get_window_attributes(observer.get(), window.input_window)->map_state,
              XCB_MAP_STATE_VIEWABLE);
}

TEST_P(DockWindowTest, WindowManagerPropertiesHoldTheirExactValues)
{
    const std::uint64_t size = GetParam();
    DockWindow window = open_or_fail(display(), size);
    XConnection observer(display());
    xcb_connection_t* c = observer.get();

    const auto wm_class = get_property(c, window.face_window, XCB_ATOM_WM_CLASS);
    ASSERT_TRUE(wm_class);
    EXPECT_EQ(wm_class->type, XCB_ATOM_STRING);
    EXPECT_EQ(wm_class->format, 8);
    EXPECT_EQ(std::string(wm_class->bytes.begin(), wm_class->bytes.end()),
              std::string("kestreldial\0kestrelDial\0", 24));

    const auto wm_name = get_property(c, window.face_window, XCB_ATOM_WM_NAME);
    ASSERT_TRUE(wm_name);
    EXPECT_EQ(wm_name->type, XCB_ATOM_STRING);
    EXPECT_EQ(wm_name->format, 8);
    EXPECT_EQ(std::string(wm_name->bytes.begin(), wm_name->bytes.end()), "kestrelDial");

    const auto hints = get_property(c, window.face_window, XCB_ATOM_WM_HINTS);
    ASSERT_TRUE(hints);
    EXPECT_EQ(hints->type, XCB_ATOM_WM_HINTS);
    EXPECT_EQ(hints->format, 32);
    EXPECT_EQ(hints->words(), (Words{0x43u, 1u, 0u, 0u, 0u, 0u, 0u, 0u, window.face_window}));

    const auto normal = get_property(c, window.face_window, XCB_ATOM_WM_NORMAL_HINTS);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->type, intern_atom(c, "WM_SIZE_HINTS"));
    EXPECT_EQ(normal->format, 32);
    const auto s = static_cast<std::uint32_t>(size);
    EXPECT_EQ(normal->words(),
              (Words{0x30u, 0u, 0u, 0u, 0u, s, s, s, s, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u}));

    const auto protocols = get_property(c, window.face_window, intern_atom(c, "WM_PROTOCOLS"));
    ASSERT_TRUE(protocols);
    EXPECT_EQ(protocols->type, XCB_ATOM_ATOM);
    EXPECT_EQ(protocols->format, 32);
    const xcb_atom_t delete_atom = intern_atom(c, "WM_DELETE_WINDOW");
    EXPECT_EQ(protocols->words(), (Words{delete_atom}));
    EXPECT_EQ(window.wm_delete_window, delete_atom);

    EXPECT_FALSE(get_property(c, window.face_window, intern_atom(c, "_HALCYON_SLIT")));
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
    const auto value = get_property(observer.get(), window.face_window,
                                    intern_atom(observer.get(), "_HALCYON_SLIT"));
    if (!slit.expected) {
        EXPECT_FALSE(value);
        return;
    }
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, XCB_ATOM_CARDINAL);
    EXPECT_EQ(value->format, 32);
    EXPECT_EQ(value->words(), (Words{*slit.expected}));
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
    for (const int depth : {16, 8}) {
        XvfbServer shallow("640x480x" + std::to_string(depth));
        const auto window =
            open_dock_window(settings_of_size(96), {"kestrelDial"}, shallow.display().c_str());
        ASSERT_FALSE(window);
        EXPECT_EQ(window.error().kind, Error::Kind::Message);
        const std::string bits = std::to_string(depth);
        EXPECT_EQ(window.error().text, "Unsupported pixel format: " + bits + "bpp at depth " +
                                           bits + ". Expected 32bpp.");
        // Nothing was created: the server has no window by that name.
        XConnection observer(shallow.display());
        EXPECT_FALSE(find_window_by_name(observer.get(), observer.root(), "kestrelDial"));
    }
}

TEST_F(DockOnXvfb, ConnectionDescriptorIsClosedOnExec)
{
    DockWindow window = open_or_fail(display());
    const int fd = xcb_get_file_descriptor(dock_xcb_connection(window));
    ASSERT_GE(fd, 0);
    const int flags = fcntl(fd, F_GETFD);
    ASSERT_NE(flags, -1);
    EXPECT_TRUE(flags & FD_CLOEXEC);
}

// Sets or removes DISPLAY for one test and puts the old value back.
class DisplayVariable {
  public:
    explicit DisplayVariable(const char* value)
    {
        if (const char* old = std::getenv("DISPLAY")) saved_ = old;
        if (value)
            setenv("DISPLAY", value, 1);
        else
            unsetenv("DISPLAY");
    }
    ~DisplayVariable()
    {
        if (saved_)
            setenv("DISPLAY", saved_->c_str(), 1);
        else
            unsetenv("DISPLAY");
    }

  private:
    std::optional<std::string> saved_;
};

TEST(DockWindowConnectErrors, UnsetDisplaySaysSo)
{
    DisplayVariable unset(nullptr);
    const auto window = open_dock_window(settings_of_size(96), {"kestrelDial"});
    ASSERT_FALSE(window);
    EXPECT_EQ(window.error().kind, Error::Kind::Description);
    EXPECT_EQ(window.error().text, "cannot open display (DISPLAY is not set)");
}

TEST(DockWindowConnectErrors, DisplayWithoutServerIsNamed)
{
    // Display numbers this high have no socket here.
    DisplayVariable nowhere(":54321");
    const auto window = open_dock_window(settings_of_size(96), {"kestrelDial"});
    ASSERT_FALSE(window);
    EXPECT_EQ(window.error().kind, Error::Kind::Description);
    EXPECT_EQ(window.error().text, "cannot open display ':54321': no X server answered there");
}

TEST(DockWindowConnectErrors, UnreadableDisplayNameIsNamed)
{
    const auto window = open_dock_window(settings_of_size(96), {"kestrelDial"}, "no display here");
    ASSERT_FALSE(window);
    EXPECT_EQ(window.error().text,
              "cannot open display 'no display here': not a valid display name");
}

TEST_F(DockOnXvfb, ScreenBeyondTheServersScreensIsAnError)
{
    // Numbers past an int are named as written, not as libxcb's wrapped value (-727379969 for
    // the second), and one that wraps to 0 does not quietly open screen 0.
    for (const std::string screen : {"3", "999999999999", "4294967296"}) {
        const std::string name = display() + "." + screen;
        const auto window = open_dock_window(settings_of_size(96), {"kestrelDial"}, name.c_str());
        ASSERT_FALSE(window) << name;
        EXPECT_EQ(window.error().text,
                  "screen " + screen + " does not exist on display '" + name + "'");
    }
}

TEST(DockConnectionErrorText, EveryCodeHasItsOwnWords)
{
    std::vector<std::string> texts;
    for (int code = XCB_CONN_ERROR; code <= XCB_CONN_CLOSED_FDPASSING_FAILED; ++code) {
        texts.push_back(connection_error_text(code, ConnectionStage::Open, ":1", 0));
    }
    EXPECT_EQ(texts[XCB_CONN_ERROR - 1], "connection to the X server was lost");
    EXPECT_EQ(texts[XCB_CONN_CLOSED_REQ_LEN_EXCEED - 1].rfind("request too long for the server", 0),
              0u);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());

    // The server's reason reaches the terminal escaped: no control sequence gets through.
    const std::string refused = connection_error_text(XCB_CONN_ERROR, ConnectionStage::Opening,
                                                      ":1", 0, "no \x1b[2Jway \"here\"");
    EXPECT_EQ(refused.find('\x1b'), std::string::npos) << refused;
    EXPECT_NE(refused.find("(\"no \\u{1b}[2Jway \\\"here\\\"\")"), std::string::npos) << refused;
}

TEST(DockWindowUnderFluxbox, WindowIsTakenIntoTheSlit)
{
    XvfbServer server;
    FluxboxSession fluxbox(server);
    DockWindow window = open_or_fail(server.display());
    XConnection observer(server.display());
    const bool docked = wait_until([&] {
        const auto tree = query_tree(observer.get(), window.face_window);
        return tree && tree->parent == fluxbox.slit_window();
    });
    EXPECT_TRUE(docked);
    // The slit keeps the window at its one size.
    const auto geometry = get_geometry(observer.get(), window.face_window);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->width, 96);
    EXPECT_EQ(geometry->height, 96);
}

} // namespace
} // namespace kd::test
