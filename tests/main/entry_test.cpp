// The built program from the outside: help, the option check and the write mode, with a
// private HOME and a PATH that holds only what each test puts there.

#include "main/line_writer.hpp"
#include "settings/config_writer.hpp"
#include "settings/settings.hpp"
#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kd {
namespace {

using namespace std::chrono_literals;
using test::read_file;
using test::RunResult;
using test::TempDir;
using test::write_file;

constexpr const char* HELP_TEXT = R"(kestrelDial - Calendar clock dockapp for the Fluxbox slit

Usage: kestrelDial [OPTIONS]

Options:
  --12h                  Use 12-hour time format (default: 24-hour)
  --seconds              Show seconds in time display
  --short-month          Show abbreviated month name (default: full name)
  --timezone OFFSET      Fixed UTC offset, e.g. +4, -5, +5:30 (default: local)
  --label TEXT           Custom indicator beside the time (overrides timezone)
  --size SIZE            Window size in pixels, 96-1024 (default 96)
  --font PATH            Path to a TTF/OTF font file
  --theme THEME          Color theme (e.g. zenburn)
  --background           Run in background
  --verbose              Show extra informational messages
  --quiet                Suppress all non-error output
  --write-config [PATH]  Write annotated config file and exit
  --configure            Interactive configuration wizard
  --config PATH          Load config from PATH (default:
                         $XDG_CONFIG_HOME/kestrelDial/config)
  --dock N               Open in slit N under Halcyon (ignored elsewhere)
  --help                 Show this help message

The font is a single file with no fallback; characters it lacks are
drawn as boxes. Japanese/CJK text in the label needs a CJK-capable font,
e.g. /usr/share/fonts/ja-ipafonts/ipagp.ttf
  or /usr/share/fonts/droid/DroidSansFallback.ttf

Config: ${XDG_CONFIG_HOME:-~/.config}/kestrelDial/config
)";

struct Program : testing::Test {
    TempDir home;
    TempDir tools; // the whole PATH
    std::vector<std::string> environment{"HOME=" + home.path, "PATH=" + tools.path};
    std::string default_path = home.file(".config/kestrelDial/config");

    RunResult run(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), KD_BINARY);
        RunResult result = test::run_program(args, environment, input, 10s);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.out, "") << "standard output is never written";
        return result;
    }

    // A stand-in for the font-matching tool.
    void install_fc_match(const std::string& script_body)
    {
        const std::string path = tools.file("fc-match");
        write_file(path, "#!/bin/sh\n" + script_body + "\n");
        ::chmod(path.c_str(), 0755);
    }
};

// ---- help ----

class Help : public Program, public testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(Help, ComesBeforeEverythingElse)
{
    const RunResult result = run(GetParam());
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, HELP_TEXT);
    EXPECT_FALSE(std::filesystem::exists(default_path));
}

INSTANTIATE_TEST_SUITE_P(Arguments, Help,
                         testing::Values(std::vector<std::string>{"--help"},
                                         std::vector<std::string>{"--bogus", "--help"},
                                         std::vector<std::string>{"--label", "--help"},
                                         std::vector<std::string>{"--write-config", "--help"},
                                         std::vector<std::string>{"--configure", "--help"}));

// ---- option check ----

struct UnknownCase {
    std::vector<std::string> args;
    std::string reported;
};

class UnknownOption : public Program, public testing::WithParamInterface<UnknownCase> {};

TEST_P(UnknownOption, StopsWithTheHint)
{
    const RunResult result = run(GetParam().args);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "kestrelDial: unknown option '" + GetParam().reported +
                              "'\nTry 'kestrelDial --help' for usage information.\n");
    EXPECT_FALSE(std::filesystem::exists(default_path));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, UnknownOption,
    testing::Values(UnknownCase{{"--bogus"}, "--bogus"},
                    // Checked before the mode: write mode is never reached.
                    UnknownCase{{"--write-config", "--bogus", "--x"}, "--x"},
                    UnknownCase{{"--configure", "--size", "1", "--seconds", "--what"}, "--what"}));

// ---- write mode ----

TEST_F(Program, WriteConfigCreatesTheDefaultFile)
{
    const RunResult result = run({"--write-config"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "Config written to " + default_path + "\n");
    EXPECT_EQ(read_file(default_path), render_config(Settings{}));
}

TEST_F(Program, WriteConfigFollowedByAnOptionUsesTheConfigPath)
{
    environment.push_back("XDG_CONFIG_HOME=" + home.file("xdg"));
    const RunResult result = run({"--write-config", "--seconds", "--quiet"});
    EXPECT_EQ(result.exit_status, 0);
    const std::string path = home.file("xdg/kestrelDial/config");
    EXPECT_EQ(result.err, "Config written to " + path + "\n");
    EXPECT_NE(read_file(path).find("\nseconds = true\n"), std::string::npos);
}

struct OverwriteCase {
    std::string input;
    bool written;
};

class Overwrite : public Program, public testing::WithParamInterface<OverwriteCase> {};

TEST_P(Overwrite, AsksFirst)
{
    write_file(default_path, "size = 200\n");
    const RunResult result = run({"--write-config", "--12h"}, GetParam().input);
    EXPECT_EQ(result.exit_status, 0);
    const std::string question = "Config already exists at " + default_path + ". Overwrite? [y/N] ";
    if (GetParam().written) {
        EXPECT_EQ(result.err, question + "Config written to " + default_path + "\n");
        Settings expected;
        expected.size = 200;
        expected.format = TimeFormat::Hours12;
        EXPECT_EQ(read_file(default_path), render_config(expected));
    } else {
        EXPECT_EQ(result.err, question + "Aborted.\n");
        EXPECT_EQ(read_file(default_path), "size = 200\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, Overwrite,
                         testing::Values(OverwriteCase{"y\n", true}, OverwriteCase{"YES\n", true},
                                         OverwriteCase{"Yes\n", false}, OverwriteCase{"\n", false},
                                         OverwriteCase{"", false}));

TEST_F(Program, NoConfigPathWithoutHome)
{
    environment = {"PATH=" + tools.path};
    const RunResult result = run({"--write-config"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "Cannot determine config path (HOME not set)\n");
}

TEST_F(Program, WriteFailureEndsWithTheErrorLineNamingTheFile)
{
    write_file(home.file("plain"), "");
    for (const auto& [target, reason] :
         {std::pair{home.file("plain/config"), "Not a directory (os error 20)"},
          // Refused before anything is made: the directory must not be left behind.
          std::pair{home.file("newdir/"), "Is a directory (os error 21)"}}) {
        const RunResult result = run({"--write-config", target});
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err, "Error: cannot write " + target + ": " + reason + "\n");
    }
    EXPECT_FALSE(std::filesystem::exists(home.file("newdir")));
}

TEST_F(Program, LabelWithALineBreakIsRefusedBeforeTheQuestion)
{
    write_file(default_path, "size = 200\n");
    const RunResult result =
        run({"--write-config", "--label", "x\nleft_click = touch pwned"}, "y\n");
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "Error: \"label contains a line break; not written\"\n");
    EXPECT_EQ(read_file(default_path), "size = 200\n");
}

TEST_F(Program, ConfigThatIsNoRegularFileNeitherHangsNorCounts)
{
    ASSERT_EQ(::mkfifo(home.file("fifo").c_str(), 0600), 0);
    for (const std::string& config : {std::string("/dev/zero"), home.file("fifo"), home.path}) {
        const std::string target = home.file("out");
        std::filesystem::remove(target);
        const RunResult result = run({"--config", config, "--write-config", target});
        EXPECT_EQ(result.exit_status, 0) << config;
        EXPECT_EQ(read_file(target), render_config(Settings{})) << config;
    }
}

TEST_F(Program, BadTimezoneIsReportedAndWriteModeGoesOn)
{
    write_file(default_path, "timezone = -5\n");
    const RunResult result = run({"--timezone", "+25", "--write-config", home.file("out")});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "kestrelDial: invalid --timezone '+25' (use e.g. +4, -5, +5:30)\n"
                          "Config written to " +
                              home.file("out") + "\n");
    EXPECT_NE(read_file(home.file("out")).find("\ntimezone = -5\n"), std::string::npos);
}

// ---- the dialogue ----

TEST_F(Program, ConfigureShowsTheMatchedFontAndWritesTheAnswers)
{
    install_fc_match("printf ' /fonts/Fake Mono.ttf \\n'");
    const RunResult result = run({"--configure", "--label", "--configure"},
                                 "12h\ny\n\n-5:30\n\n128\n\n1,2,3\n\nxterm\n\n\n\n");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_NE(result.err.find("Custom indicator label (Enter for none/auto) [--configure]: "),
              std::string::npos);
    EXPECT_NE(result.err.find("Font path (Enter for auto-detect) [auto: /fonts/Fake Mono.ttf]: "),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(result.err.ends_with("Config written to " + default_path + "\n"));

    Settings expected;
    expected.format = TimeFormat::Hours12;
    expected.seconds = true;
    expected.timezone = -(5 * 3600 + 30 * 60);
    expected.label = "--configure";
    expected.size = 128;
    expected.color = Rgb{1, 2, 3};
    expected.left_click = "xterm";
    EXPECT_EQ(read_file(default_path), render_config(expected));
}

TEST_F(Program, ConfigureWithoutAWorkingFcMatchShowsNoHint)
{
    for (const bool failing_tool : {false, true}) {
        if (failing_tool) install_fc_match("echo /fonts/x.ttf; exit 1");
        const std::string target = home.file(failing_tool ? "b" : "a");
        const RunResult result = run({"--configure", "--write-config", target});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_NE(result.err.find("Font path (Enter for auto-detect): Main color"),
                  std::string::npos)
            << result.err;
        EXPECT_EQ(read_file(target), render_config(Settings{}));
    }
}

TEST_F(Program, ConfigureAtEndOfInputAgainstAnExistingFileAborts)
{
    write_file(default_path, "size = 200\n");
    const RunResult result = run({"--configure"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_TRUE(result.err.starts_with("kestrelDial: interactive configuration\n\n"));
    EXPECT_NE(result.err.find("Window size (96-1024) [200]: Font path"), std::string::npos);
    EXPECT_TRUE(result.err.ends_with("Overwrite? [y/N] Aborted.\n")) << result.err;
    EXPECT_EQ(read_file(default_path), "size = 200\n");
}

// ---- the child-process harness itself, which the clock-mode tests rely on ----

namespace harness {

TEST(RunProgram, KillsAHangingChildAtTheTimeout)
{
    const RunResult result =
        test::run_program({"/bin/sh", "-c", "echo started; exec sleep 30"}, {}, "", 300ms);
    EXPECT_TRUE(result.timed_out);
    EXPECT_EQ(result.exit_status, -SIGKILL);
    EXPECT_EQ(result.out, "started\n");
}

TEST(RunningProgram, WaitsForOutputTakesSignalsAndReaps)
{
    test::RunningProgram program(
        {"/bin/sh", "-c",
         "trap 'echo got-hup >&2' HUP; echo ready >&2; while :; do sleep 0.05; done"},
        {});
    ASSERT_TRUE(program.wait_for_stderr("ready", 10s)) << program.stderr_text();
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(program.wait_until_catching(SIGHUP, 10s));
    program.send_signal(SIGHUP);
    EXPECT_TRUE(program.wait_for_stderr("got-hup", 10s)) << program.stderr_text();
    EXPECT_EQ(program.wait_exit(50ms), test::STILL_RUNNING);
    program.send_signal(SIGTERM);
    EXPECT_EQ(program.wait_exit(10s), -SIGTERM);
    EXPECT_FALSE(program.running());
}

} // namespace harness

// Standard error as a pipe that the writer waits on (write mode), or, for the running clock,
// which must not wait, a pipe or a socket (a logger) whose reader may stall.
class LineWriterOn : public testing::TestWithParam<std::string> {};

TEST_P(LineWriterOn, WritesWholeLinesAPromptOnFlushAndWhenItMustNotWaitDropsAndCounts)
{
    const bool waits = GetParam() == "waited-on pipe";
    const test::ErrorChannel channel(GetParam() == "socket");
    {
        LineWriter lines(channel.writer.fd);
        if (!waits) lines.limit_waiting(0ms);
        std::ostream err(&lines);
        // With --background, two processes share standard error; a line written in pieces can
        // be cut by the other's line, so nothing of a line may reach the descriptor before its
        // end.
        err << "kestrelDial: backgrounded (pid " << 4242;
        EXPECT_EQ(channel.take(), "");
        err << ")\nkestrelDial: next";
        EXPECT_EQ(channel.take(), "kestrelDial: backgrounded (pid 4242)\n");
        err << " line\n" << "Size [96]: " << std::flush;
        EXPECT_EQ(channel.take(), "kestrelDial: next line\nSize [96]: ");
        if (!waits) {
            channel.stall();
            err << "kestrelDial: lost in a full pipe\n" << "kestrelDial: and this\n";
            channel.take();
            err << "Error: " << "still written\n";
            EXPECT_TRUE(err.good());
            EXPECT_EQ(channel.take(), "kestrelDial: 2 lines dropped while standard error was not "
                                      "being read\nError: still written\n");
            // Others write through the same open file, and expect it to block.
            EXPECT_EQ(fcntl(channel.writer.fd, F_GETFL) & O_NONBLOCK, 0);
        }
        err << "unended";
    }
    EXPECT_EQ(channel.take(), "unended");
}

INSTANTIATE_TEST_SUITE_P(PipesAndSocket, LineWriterOn,
                         testing::Values("waited-on pipe", "pipe", "socket"));

} // namespace
} // namespace kd
