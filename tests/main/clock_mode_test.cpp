// The built program in clock mode, as users run it: on a private Xvfb, clicked through XTEST,
// signalled, detached, and watched through its standard error and its children; docked by
// the window managers that have a dock, over TCP with a cookie and on a second screen.
#include "face/clock.hpp"
#include "face/face_layout.hpp"
#include "face/font_fixture.hpp"
#include "face/pixel_buffer.hpp"
#include "face/scoped_zone.hpp"
#include "support/child_process.hpp"
#include "support/temp_dir.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

#include <gtest/gtest.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace kd::test {
namespace {

using namespace std::chrono_literals;

// A process with its parent, its state letter (R, S, Z, ...) and its command name.
struct ProcessInfo {
    pid_t pid;
    pid_t parent;
    char state;
    std::string command;
};

std::optional<ProcessInfo> process_info(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return std::nullopt;
    ProcessInfo info{pid, 0, '?', stat.substr(open + 1, close - open - 1)};
    std::istringstream(stat.substr(close + 2)) >> info.state >> info.parent;
    return info;
}

std::vector<ProcessInfo> children_of(pid_t parent)
{
    std::vector<ProcessInfo> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (const dirent* entry = readdir(proc)) {
        const auto info = process_info(static_cast<pid_t>(std::atoi(entry->d_name)));
        if (info && info->parent == parent) found.push_back(*info);
    }
    closedir(proc);
    return found;
}

// What the process has written so far, to files, pipes and sockets (its X connection too).
std::int64_t bytes_written(pid_t pid)
{
    std::istringstream io(read_file("/proc/" + std::to_string(pid) + "/io"));
    std::string key;
    std::int64_t value = 0;
    while (io >> key >> value)
        if (key == "wchar:") return value;
    return -1;
}

std::set<std::string> open_descriptors(pid_t pid)
{
    std::set<std::string> names;
    DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (fds == nullptr) return names;
    while (const dirent* entry = readdir(fds))
        if (entry->d_name[0] != '.') names.insert(entry->d_name);
    closedir(fds);
    return names;
}

// The window shows, pixel for pixel, the face of `settings` (the defaults unless given) for
// the instant of `clock`, painted here with the same font.
bool shows_the_face(xcb_connection_t* x, xcb_window_t window, const Settings& settings = {},
                    const Clock& clock = system_now)
{
    const auto image = get_image(x, window, 96, 96);
    if (!image) return false;
    PixelBuffer face =
        make_pixel_buffer(96, 96, xcb_get_setup(x)->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST);
    TextScratch scratch;
    paint_face(face, test_font(), scratch, settings, clock);
    return *image == face.bytes;
}

class ClockMode : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server = std::make_unique<XvfbServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override { x = std::make_unique<XConnection>(server->display()); }

    std::vector<std::string> environment(bool with_display = true) const
    {
        std::vector<std::string> env{"HOME=" + home.path, "PATH=/usr/bin:/bin", "TZ=UTC"};
        if (with_display) env.push_back("DISPLAY=" + server->display());
        return env;
    }

    void write_config(const std::string& text) const
    {
        write_file(home.path + "/.config/kestrelDial/config", text);
    }

    // A clock with its SIGHUP handler in place and its windows in `windows`.
    std::unique_ptr<RunningProgram> start(std::vector<std::string> options)
    {
        options.insert(options.begin(), {KD_BINARY, "--font", KD_TEST_FONT});
        auto program = std::make_unique<RunningProgram>(options, environment());
        EXPECT_TRUE(program->wait_until_catching(SIGHUP, 10s)) << program->stderr_text();
        wait_for_windows();
        return program;
    }

    // Once mapped, clickable and painted.
    void wait_for_windows()
    {
        const auto found = wait_for_clock(x->get(), x->root());
        EXPECT_TRUE(found);
        windows = found.value_or(ClockWindows{});
    }

    static inline std::unique_ptr<XvfbServer> server;
    TempDir home;
    std::unique_ptr<XConnection> x;
    ClockWindows windows;
};

TEST_F(ClockMode, StatusLinesThenExitingOnACloseRequest)
{
    auto clock = start({"--size", "128", "--12h", "--seconds", "--short-month"});
    request_close(x->get(), windows.face);
    EXPECT_EQ(clock->wait_exit(10s), 0);
    EXPECT_EQ(clock->stderr_text(), "kestrelDial: using font " KD_TEST_FONT "\n"
                                    "kestrelDial: running (128x128, 12h, seconds, short month)\n"
                                    "kestrelDial: exiting\n");
    EXPECT_EQ(clock->stdout_text(), "");
}

TEST_F(ClockMode, QuietFileAndSigtermEndWithoutAWord)
{
    write_config("quiet = true\n");
    auto clock = start({});
    clock->send_signal(SIGTERM);
    EXPECT_EQ(clock->wait_exit(10s), -SIGTERM);
    EXPECT_EQ(clock->stderr_text(), "");
}

TEST_F(ClockMode, ClickCommandsRunThroughTheShellWithoutFreezingTheClock)
{
    const std::string log = home.file("clicks");
    write_config("left_click = echo left >> '" + log + "'; exec sleep 30\n" +
                 "right_click = n=2; echo \"right $((n * 21))\" >> '" + log +
                 "' && echo done >> '" + log + "'\n");
    auto clock = start({"--seconds"});
    // The wheel, and presses on the 4-pixel ring, which the input window leaves out, run nothing.
    ASSERT_TRUE(click_on(x->get(), windows.input, 44, 44, 4));
    ASSERT_TRUE(click_on(x->get(), windows.input, 44, 44, 5));
    ASSERT_TRUE(click_on(x->get(), windows.face, 2, 2, 1));
    ASSERT_TRUE(click_on(x->get(), windows.face, 93, 50, 3));
    ASSERT_TRUE(click_on(x->get(), windows.input, 44, 44, 1)); // a command that keeps running
    ASSERT_TRUE(wait_until([&] { return read_file(log) == "left\n"; })) << read_file(log);
    ASSERT_TRUE(click_on(x->get(), windows.input, 44, 44, 3));
    const std::string all_ran = "left\nright 42\ndone\n";
    EXPECT_TRUE(wait_until([&] { return read_file(log) == all_ran; })) << read_file(log);

    // Still painting: the face goes on to show another second.
    const auto before = get_image(x->get(), windows.face, 96, 96);
    ASSERT_TRUE(before);
    EXPECT_TRUE(wait_until([&] {
        const auto now = get_image(x->get(), windows.face, 96, 96);
        return now && *now != *before;
    }));

    // The running command holds nothing of the clock but the three standard streams.
    std::optional<ProcessInfo> sleeper;
    ASSERT_TRUE(wait_until([&] {
        for (const auto& child : children_of(clock->pid()))
            if (child.command == "sleep") sleeper = child;
        return sleeper.has_value();
    }));
    EXPECT_EQ(open_descriptors(sleeper->pid), (std::set<std::string>{"0", "1", "2"}));
    EXPECT_EQ(read_file(log), all_ran);

    request_close(x->get(), windows.face);
    EXPECT_EQ(clock->wait_exit(10s), 0);
    kill(sleeper->pid, SIGKILL);
}

// Queues `count` events for the clock as a neighbouring client can: "sent" presses, presses
// through "xtest" as a real mouse makes them, or sent "exposures". Returns when the server has
// handled them.
void flood_with(std::string_view flood, xcb_connection_t* x, const ClockWindows& windows, int count)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    for (int i = 0; i < count; ++i) {
        if (flood == "sent") {
            std::array<char, 32> bytes{};
            auto* press = reinterpret_cast<xcb_button_press_event_t*>(bytes.data());
            press->response_type = XCB_BUTTON_PRESS;
            press->detail = 1;
            press->root = root;
            press->event = windows.input;
            press->same_screen = 1;
            xcb_send_event(x, 0, windows.input, XCB_EVENT_MASK_BUTTON_PRESS, bytes.data());
        } else if (flood == "xtest") {
            xcb_test_fake_input(x, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, root, 0, 0, 0);
            xcb_test_fake_input(x, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, root, 0, 0, 0);
        } else {
            send_expose(x, windows.face, 96, 96, 0, false);
        }
    }
    sync(x);
}

class Flooded : public ClockMode, public ::testing::WithParamInterface<std::string> {};

TEST_P(Flooded, TheFaceKeepsItsSecondTheCloseIsServedAndFewChildrenWaitToBeReaped)
{
    const std::string log = home.file("clicks");
    write_config("left_click = echo x >> '" + log + "'\n");
    auto clock = start({"--seconds"});
    XConnection neighbour(server->display());
    ASSERT_TRUE(click_on(neighbour.get(), windows.input, 44, 44, 4)); // the pointer in place
    const std::int64_t written_before = bytes_written(clock->pid());
    int flooded = 0;
    std::ptrdiff_t most_defunct = 0;
    const ScopedZone zone("UTC"); // the clock's, for the face painted here
    Settings with_seconds;
    with_seconds.seconds = true;
    std::set<std::int64_t> shown_in_time; // seconds whose face the window showed
    EXPECT_TRUE(wait_until(
        [&] {
            flood_with(GetParam(), neighbour.get(), windows, 2000);
            flooded += 2000;
            most_defunct = std::max(
                most_defunct, std::ranges::count_if(children_of(clock->pid()),
                                                    [](const auto& c) { return c.state == 'Z'; }));
            const Instant now = system_now();
            if (shows_the_face(x->get(), windows.face, with_seconds, [now] { return now; }))
                shown_in_time.insert(now.seconds);
            return shown_in_time.size() >= 2;
        },
        30s));
    EXPECT_LE(most_defunct, 30);
    EXPECT_EQ(read_file(log).empty(), GetParam() == "exposures");
    EXPECT_TRUE(wait_until([&] { return children_of(clock->pid()).empty(); }));

    // A close request behind ten thousand more.
    flood_with(GetParam(), neighbour.get(), windows, 10000);
    flooded += 10000;
    request_close(neighbour.get(), windows.face);
    // Ended, and not yet collected.
    EXPECT_TRUE(wait_until(
        [&] { return process_info(clock->pid()).value_or(ProcessInfo{}).state == 'Z'; }, 30s));
    // Whole frames are nearly all that the clock writes: a few a second, not one an event.
    const auto frames = (bytes_written(clock->pid()) - written_before) / std::int64_t{96 * 96 * 4};
    EXPECT_LT(frames * 10, flooded) << frames << " frames";
    EXPECT_EQ(clock->wait_exit(10s), 0);
    EXPECT_TRUE(clock->stderr_text().ends_with("kestrelDial: exiting\n")) << clock->stderr_text();
}

INSTANTIATE_TEST_SUITE_P(Neighbours, Flooded, ::testing::Values("sent", "xtest", "exposures"));

TEST_F(ClockMode, RunningOutOfMemoryEndsWithTheErrorLine)
{
#ifdef KD_SANITIZED_PROGRAM
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than any such limit";
#endif
    std::uint64_t smallest_needs = 0;
    {
        auto smallest = start({});
        std::istringstream status(
            read_file("/proc/" + std::to_string(smallest->pid()) + "/status"));
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("VmPeak:")) smallest_needs = std::stoull(line.substr(7)) * 1024;
    }
    // The largest face's frame alone takes 4 MiB more.
    RunningProgram largest(
        {KD_BINARY, "--font", KD_TEST_FONT, "--size", "1024"}, environment(),
        ChildSetup{.stderr_fd = -1, .address_space_bytes = smallest_needs + (1u << 20)});
    EXPECT_EQ(largest.wait_exit(10s), 1);
    EXPECT_TRUE(largest.stderr_text().ends_with("\nError: Cannot allocate memory (os error 12)\n"))
        << largest.stderr_text();
}

// The parent's "backgrounded" line, whole and on a line of its own; the detached child may
// have written its first lines before it.
pid_t detached_pid(const std::string& stderr_text)
{
    constexpr std::string_view head = "kestrelDial: backgrounded (pid ";
    for (std::size_t at = 0, end; (end = stderr_text.find('\n', at)) != std::string::npos;
         at = end + 1) {
        const std::string_view line(stderr_text.data() + at, end - at);
        if (line.starts_with(head) && line.ends_with(")"))
            return std::atoi(line.data() + head.size());
    }
    return -1;
}

TEST_F(ClockMode, QuietBackgroundSaysNothingAndTheChildReportsItsOwnError)
{
    RunningProgram parent({KD_BINARY, "--font", "/nonexistent/font.ttf", "--background", "--quiet"},
                          environment());
    EXPECT_EQ(parent.wait_exit(10s), 0);
    ASSERT_TRUE(parent.wait_for_stderr("\n", 10s));
    EXPECT_EQ(parent.stderr_text(), "Error: \"Cannot read font '/nonexistent/font.ttf': No such "
                                    "file or directory (os error 2)\"\n");
}

TEST_F(ClockMode, WithoutDisplayTheFontComesFirstThenTheXError)
{
    const auto missing =
        run_program({KD_BINARY, "--font", "/nonexistent.ttf"}, environment(false), "", 10s);
    EXPECT_EQ(missing.exit_status, 1);
    EXPECT_EQ(missing.err, "Error: \"Cannot read font '/nonexistent.ttf': No such file or "
                           "directory (os error 2)\"\n");

    const auto no_display =
        run_program({KD_BINARY, "--font", KD_TEST_FONT}, environment(false), "", 10s);
    EXPECT_EQ(no_display.exit_status, 1);
    EXPECT_EQ(no_display.err.rfind("kestrelDial: using font " KD_TEST_FONT "\nError: ", 0), 0u)
        << no_display.err;
    EXPECT_EQ(no_display.err.find('"'), std::string::npos); // X errors are not quoted messages
}

// The environment of a clock run outside the ClockMode fixture. TZ is passed on as the test
// has it, so that shows_the_face paints the same hour.
std::vector<std::string> clock_environment(const TempDir& home, const std::string& display,
                                           const std::vector<std::string>& more = {})
{
    std::vector<std::string> env{"HOME=" + home.path, "PATH=/usr/bin:/bin", "DISPLAY=" + display};
    if (const char* zone = std::getenv("TZ")) env.push_back(std::string("TZ=") + zone);
    env.insert(env.end(), more.begin(), more.end());
    return env;
}

// A clock that --background detached is in a session of its own, out of RunningProgram's
// reach; the test ends it by its pid.
struct DetachedClock {
    pid_t pid = -1;
    ~DetachedClock()
    {
        if (pid > 0) kill(pid, SIGKILL);
    }
};

struct DockCase {
    std::string window_manager;
    // Started with --background before the window manager, as start-up files have it.
    bool clock_first = false;
};

void PrintTo(const DockCase& run, std::ostream* out)
{
    *out << run.window_manager << (run.clock_first ? ", clock first" : "");
}

std::string dock_case_name(const ::testing::TestParamInfo<DockCase>& info)
{
    return info.param.window_manager + (info.param.clock_first ? "_clock_first" : "");
}

class UnderWindowManager : public ::testing::TestWithParam<DockCase> {};

TEST_P(UnderWindowManager, TheFaceIsDockedPaintedAndClickable)
{
    const DockCase& run = GetParam();
    XvfbServer server("800x600x24");
    XConnection x(server.display());
    TempDir home;
    const std::string clicked = home.file("clicked");
    write_file(home.path + "/.config/kestrelDial/config", "left_click = touch '" + clicked + "'\n");
    // fluxbox's toolbar covers the lower end of its slit where it sits by default.
    std::vector<std::pair<std::string, std::string>> wm_files;
    if (run.window_manager == "fluxbox")
        wm_files.emplace_back(".fluxbox/init", "session.screen0.slit.placement: RightCenter\n");

    std::unique_ptr<WindowManagerSession> wm;
    if (!run.clock_first)
        wm = std::make_unique<WindowManagerSession>(server, run.window_manager, wm_files);
    std::vector<std::string> args{KD_BINARY, "--font", KD_TEST_FONT};
    if (run.clock_first) args.push_back("--background");
    RunningProgram clock(args, clock_environment(home, server.display()));
    DetachedClock detached;
    const auto windows = wait_for_clock(x.get(), x.root());
    ASSERT_TRUE(windows) << clock.stderr_text();
    if (run.clock_first) {
        EXPECT_EQ(clock.wait_exit(10s), 0);
        detached.pid = detached_pid(clock.stderr_text());
        ASSERT_GT(detached.pid, 0) << clock.stderr_text();
        EXPECT_EQ(getsid(detached.pid), detached.pid); // a session of its own
        wm = std::make_unique<WindowManagerSession>(server, run.window_manager, wm_files);
    }

    ASSERT_TRUE(wait_until([&] { return is_docked(x.get(), windows->face); })) << wm->log();
    EXPECT_TRUE(wait_until([&] { return shows_the_face(x.get(), windows->face); }));
    ASSERT_TRUE(click_on(x.get(), windows->input, 44, 44, 1));
    EXPECT_TRUE(wait_until([&] { return access(clicked.c_str(), F_OK) == 0; }))
        << clock.stderr_text();
    EXPECT_TRUE(wm->running()) << wm->log();
}

INSTANTIATE_TEST_SUITE_P(Docks, UnderWindowManager,
                         ::testing::Values(DockCase{"fluxbox"}, DockCase{"openbox"},
                                           DockCase{"blackbox"}, DockCase{"pekwm"},
                                           DockCase{"fluxbox", true}, DockCase{"openbox", true},
                                           DockCase{"blackbox", true}, DockCase{"pekwm", true}),
                         dock_case_name);

// A TCP display that wants a cookie, as X forwarding and a second machine have it.
class OnTcpDisplay : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        files = std::make_unique<TempDir>();
        cookie = random_cookie();
        write_xauthority(files->file("Xauthority"), cookie);
        server = std::make_unique<XvfbServer>("800x600x24", std::vector<std::string>{},
                                              XvfbAccess{true, files->file("Xauthority")});
    }
    static void TearDownTestSuite()
    {
        server.reset();
        files.reset();
    }

    static inline std::unique_ptr<TempDir> files;
    static inline Cookie cookie{};
    static inline std::unique_ptr<XvfbServer> server;
    TempDir home;
};

TEST_F(OnTcpDisplay, TheCookieInXauthorityLetsTheClockRun)
{
    RunningProgram clock({KD_BINARY, "--font", KD_TEST_FONT},
                         clock_environment(home, server->tcp_display(),
                                           {"XAUTHORITY=" + files->file("Xauthority")}));
    XConnection x(server->display(), cookie);
    const auto windows = wait_for_clock(x.get(), x.root());
    ASSERT_TRUE(windows) << clock.stderr_text();
    EXPECT_TRUE(wait_until([&] { return shows_the_face(x.get(), windows->face); }));
    request_close(x.get(), windows->face);
    EXPECT_EQ(clock.wait_exit(10s), 0) << clock.stderr_text();
}

TEST_F(OnTcpDisplay, TheErrorLineTellsARefusalFromNobodyListening)
{
    write_xauthority(home.file("wrong"), random_cookie());
    const std::string refused = "Error: cannot open display '" + server->tcp_display() +
                                "': the X server answered but refused the connection set-up (\"";
    const std::string advice =
        "\"); this usually means missing or wrong authorization: check XAUTHORITY and "
        "'xauth list'\n";
    struct Attempt {
        std::string display;
        std::string xauthority;
        std::string error_line;
    };
    // Xvfb's own words for a missing and for a wrong cookie; nothing listens on port 60321.
    for (const Attempt& attempt :
         {Attempt{server->tcp_display(), home.file("none"),
                  refused + "Authorization required, but no authorization protocol specified" +
                      advice},
          Attempt{server->tcp_display(), home.file("wrong"),
                  refused + "Invalid MIT-MAGIC-COOKIE-1 key" + advice},
          Attempt{"127.0.0.1:54321", home.file("none"),
                  "Error: cannot open display '127.0.0.1:54321': no X server answered there\n"}}) {
        const auto result = run_program(
            {KD_BINARY, "--font", KD_TEST_FONT},
            clock_environment(home, attempt.display, {"XAUTHORITY=" + attempt.xauthority}), "",
            10s);
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err, "kestrelDial: using font " KD_TEST_FONT "\n" + attempt.error_line);
    }
}

TEST(ClockModeOnTwoScreens, ScreenOneOfTheDisplayNameGetsTheFace)
{
    XvfbServer server("800x600x24", {"-screen", "1", "640x480x24"});
    TempDir home;
    RunningProgram clock({KD_BINARY, "--font", KD_TEST_FONT},
                         clock_environment(home, server.display() + ".1"));
    XConnection x(server.display());
    const auto windows = wait_for_clock(x.get(), x.root(1));
    ASSERT_TRUE(windows) << clock.stderr_text();
    EXPECT_TRUE(wait_until([&] { return shows_the_face(x.get(), windows->face); }));
    EXPECT_FALSE(find_window_by_name(x.get(), x.root(0), "kestrelDial"));
}

} // namespace
} // namespace kd::test
