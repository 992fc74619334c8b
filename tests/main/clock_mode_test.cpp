// The built program in clock mode, as users run it: on a private Xvfb, clicked through XTEST,
// signalled, detached, and watched through its standard error and its children.
#include "support/child_process.hpp"
#include "support/temp_dir.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace kd::test {
namespace {

using namespace std::chrono_literals;

// Processes whose parent is `parent`, with their state letter (R, S, Z, ...) and command name.
struct ProcessInfo {
    pid_t pid;
    char state;
    std::string command;
};

std::vector<ProcessInfo> children_of(pid_t parent)
{
    std::vector<ProcessInfo> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (const dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state = '?';
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) found.push_back({pid, state, stat.substr(open + 1, close - open - 1)});
    }
    closedir(proc);
    return found;
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

    std::unique_ptr<RunningProgram> start(std::vector<std::string> options)
    {
        options.insert(options.begin(), {KD_BINARY, "--font", KD_TEST_FONT});
        auto program = std::make_unique<RunningProgram>(options, environment());
        EXPECT_TRUE(program->wait_for_stderr("kestrelDial: running", 10s)) << program->stderr_text();
        return program;
    }

    // The face window, found by its name once the program has mapped it.
    xcb_window_t face_window()
    {
        std::optional<xcb_window_t> found;
        EXPECT_TRUE(wait_until([&] {
            found = find_window_by_name(x->get(), x->root(), "kestrelDial");
            return found.has_value();
        }));
        return found.value_or(0);
    }

    void close_window(xcb_window_t window)
    {
        send_client_message(x->get(), window, intern_atom(x->get(), "WM_PROTOCOLS"),
                            {intern_atom(x->get(), "WM_DELETE_WINDOW"), 0, 0, 0, 0});
        sync(x->get());
    }

    static inline std::unique_ptr<XvfbServer> server;
    TempDir home;
    std::unique_ptr<XConnection> x;
};

TEST_F(ClockMode, StatusLinesThenExitingOnACloseRequest)
{
    auto clock = start({"--size", "128", "--12h", "--seconds", "--short-month"});
    close_window(face_window());
    EXPECT_EQ(clock->wait_exit(10s), 0);
    EXPECT_EQ(clock->stderr_text(), "kestrelDial: using font " KD_TEST_FONT "\n"
                                    "kestrelDial: running (128x128, 12h, seconds, short month)\n"
                                    "kestrelDial: exiting\n");
    EXPECT_EQ(clock->stdout_text(), "");
}

TEST_F(ClockMode, QuietFileAndSigtermEndWithoutAWord)
{
    write_config("quiet = true\n");
    RunningProgram clock({KD_BINARY, "--font", KD_TEST_FONT}, environment());
    face_window();
    clock.send_signal(SIGTERM);
    EXPECT_EQ(clock.wait_exit(10s), -SIGTERM);
    EXPECT_EQ(clock.stderr_text(), "");
}

TEST_F(ClockMode, HangupReloadsTheFile)
{
    auto clock = start({});
    clock->send_signal(SIGHUP);
    EXPECT_TRUE(clock->wait_for_stderr("kestrelDial: config reloaded (SIGHUP)\n", 5s));
    // There was no file: the running settings were written first.
    EXPECT_NE(clock->stderr_text().find("kestrelDial: wrote default config to " + home.path +
                                        "/.config/kestrelDial/config\n"),
              std::string::npos);
    clock->send_signal(SIGTERM);
    EXPECT_EQ(clock->wait_exit(10s), -SIGTERM);
}

TEST_F(ClockMode, ClickCommandsRunThroughTheShellWithoutFreezingTheClock)
{
    const std::string log = home.file("clicks");
    write_config("left_click = exec sleep 30\n"
                 "right_click = n=2; echo \"right $((n * 21))\" >> '" + log + "' && echo done >> '" + log + "'\n");
    auto clock = start({"--seconds"});
    const xcb_window_t window = face_window();

    fake_click(x->get(), 48, 48, 1); // a command that keeps running
    fake_click(x->get(), 48, 48, 3);
    EXPECT_TRUE(wait_until([&] { return read_file(log) == "right 42\ndone\n"; }, 5000ms)) << read_file(log);

    // Still painting: a second later the face shows another second.
    const auto before = get_image(x->get(), window, 96, 96);
    std::this_thread::sleep_for(1200ms);
    const auto after = get_image(x->get(), window, 96, 96);
    ASSERT_TRUE(before && after);
    EXPECT_NE(*before, *after);

    // The running command holds nothing of the clock but the three standard streams.
    std::optional<ProcessInfo> sleeper;
    ASSERT_TRUE(wait_until([&] {
        for (const auto& child : children_of(clock->pid()))
            if (child.command == "sleep") sleeper = child;
        return sleeper.has_value();
    }));
    EXPECT_EQ(open_descriptors(sleeper->pid), (std::set<std::string>{"0", "1", "2"}));

    close_window(window);
    EXPECT_EQ(clock->wait_exit(10s), 0);
    kill(sleeper->pid, SIGKILL);
}

TEST_F(ClockMode, FinishedCommandsDoNotPileUpAsDefunctProcesses)
{
    const std::string log = home.file("count");
    write_config("left_click = echo x >> '" + log + "'\n");
    auto clock = start({});
    face_window();
    for (int i = 0; i < 15; ++i) fake_click(x->get(), 40, 40, 1);
    ASSERT_TRUE(wait_until([&] { return read_file(log).size() == 30; }));
    EXPECT_TRUE(wait_until([&] { return children_of(clock->pid()).empty(); }, 4000ms))
        << children_of(clock->pid()).size() << " children left";
    clock->send_signal(SIGTERM);
    clock->wait_exit(10s);
}

TEST_F(ClockMode, WheelAndRingClicksRunNothing)
{
    const std::string log = home.file("clicks");
    write_config("left_click = echo left >> '" + log + "'\n"
                 "right_click = echo right >> '" + log + "'\n");
    auto clock = start({});
    face_window();
    fake_click(x->get(), 48, 48, 4);
    fake_click(x->get(), 48, 48, 5);
    fake_click(x->get(), 2, 2, 1);   // on the 4-pixel ring
    fake_click(x->get(), 93, 50, 3); // likewise
    fake_click(x->get(), 50, 50, 1); // and one that counts, to know the others were handled
    ASSERT_TRUE(wait_until([&] { return !read_file(log).empty(); }));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(read_file(log), "left\n");
    clock->send_signal(SIGTERM);
    clock->wait_exit(10s);
}

TEST_F(ClockMode, BackgroundParentReturnsAtOnceAndTheChildRuns)
{
    RunningProgram parent({KD_BINARY, "--font", KD_TEST_FONT, "--background"}, environment());
    EXPECT_EQ(parent.wait_exit(10s), 0);
    ASSERT_TRUE(parent.wait_for_stderr("kestrelDial: running", 10s)) << parent.stderr_text();
    const std::string text = parent.stderr_text();
    EXPECT_EQ(text.rfind("kestrelDial: backgrounded (pid ", 0), 0u) << text;
    const pid_t child = static_cast<pid_t>(std::atoi(text.c_str() + text.find("(pid ") + 5));
    ASSERT_GT(child, 0);
    EXPECT_EQ(getsid(child), child); // a session of its own
    close_window(face_window());
    EXPECT_TRUE(wait_until([&] { return kill(child, 0) != 0; }));
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
    const auto missing = run_program({KD_BINARY, "--font", "/nonexistent.ttf"}, environment(false), "", 10s);
    EXPECT_EQ(missing.exit_status, 1);
    EXPECT_EQ(missing.err, "Error: \"Cannot read font '/nonexistent.ttf': No such file or "
                           "directory (os error 2)\"\n");

    const auto no_display = run_program({KD_BINARY, "--font", KD_TEST_FONT}, environment(false), "", 10s);
    EXPECT_EQ(no_display.exit_status, 1);
    EXPECT_EQ(no_display.err.rfind("kestrelDial: using font " KD_TEST_FONT "\nError: ", 0), 0u)
        << no_display.err;
    EXPECT_EQ(no_display.err.find('"'), std::string::npos); // X errors are not quoted messages
}

TEST(ClockModeUnderFluxbox, TheWindowIsTakenIntoTheSlit)
{
    XvfbServer server;
    FluxboxSession fluxbox(server);
    TempDir home;
    RunningProgram clock({KD_BINARY, "--font", KD_TEST_FONT},
                         {"HOME=" + home.path, "PATH=/usr/bin:/bin", "DISPLAY=" + server.display()});
    XConnection x(server.display());
    EXPECT_TRUE(wait_until([&] {
        const auto window = find_window_by_name(x.get(), x.root(), "kestrelDial");
        if (!window) return false;
        const auto tree = query_tree(x.get(), *window);
        return tree && tree->parent == fluxbox.slit_window();
    }, 10000ms)) << clock.stderr_text();
}

} // namespace
} // namespace kd::test
