#include "main/write_mode.hpp"

#include "settings/config_writer.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace kd {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

const FontDetector no_font = [] { return std::optional<std::string>(); };

std::string all_prompts(const std::string& font_hint)
{
    return "kestrelDial: interactive configuration\n\n"
           "Time format (12h, 24h) [24h]: "
           "Show seconds? [y/N]: "
           "Short month name? [y/N]: "
           "Timezone offset (e.g. +4, -5, +5:30; Enter for local) [local]: "
           "Custom indicator label (Enter for none/auto): "
           "Window size (96-1024) [96]: "
           "Font path (Enter for auto-detect)" +
           font_hint +
           ": "
           "Main color R,G,B [0, 255, 0]: "
           "Dim color R,G,B [0, 200, 0]: "
           "Left click command: "
           "Middle click command: "
           "Right click command: "
           "Run in the background? [y/N]: ";
}

TEST(Dialogue, EndOfInputOrBlankAnswersKeepEverythingAndShowTheDetectedFont)
{
    for (const bool found : {true, false}) {
        std::istringstream in(found ? "" : "\n\n\n\n\n\n\n\n\n\n\n\n\n");
        std::ostringstream err;
        int detections = 0;
        const Settings result = run_configure(Settings{}, in, err, [&] {
            ++detections;
            return found ? std::optional<std::string>("/usr/share/fonts/Mono.ttf") : std::nullopt;
        });
        EXPECT_EQ(result, Settings{});
        EXPECT_EQ(err.str(), all_prompts(found ? " [auto: /usr/share/fonts/Mono.ttf]" : ""));
        EXPECT_EQ(detections, 1);
    }
}

TEST(Dialogue, EveryAnswerAndItsMessage)
{
    Settings start;
    start.seconds = true;
    start.timezone = 4 * 3600;
    start.label = "Tokyo";
    start.font = "/old.ttf";
    start.theme = "zenburn";
    start.quiet = true;
    std::istringstream in("12h \n"
                          "Yes\n"
                          "y\n"
                          "+25\n"
                          "\n"
                          "2000\n"
                          "/f.ttf\n"
                          "1,2\n"
                          " 10 , 20 , 30 \n"
                          "xterm\n"
                          "\n"
                          "a = b\n"
                          "YES"); // no line feed at the very end
    std::ostringstream err;
    bool detected = false;
    const Settings result = run_configure(start, in, err, [&] {
        detected = true;
        return std::optional<std::string>("/unused.ttf");
    });

    Settings expected = start;
    expected.format = TimeFormat::Hours12;
    expected.seconds = false;
    expected.short_month = true;
    expected.font = "/f.ttf";
    expected.dim_color = Rgb{10, 20, 30};
    expected.left_click = "xterm";
    expected.right_click = "a = b";
    expected.background = true;
    EXPECT_EQ(result, expected);
    EXPECT_FALSE(detected) << "a configured font needs no detection";
    EXPECT_EQ(err.str(), "kestrelDial: interactive configuration\n\n"
                         "Time format (12h, 24h) [24h]: "
                         "Show seconds? [Y/n]: "
                         "Short month name? [y/N]: "
                         "Timezone offset (e.g. +4, -5, +5:30; Enter for local) [+4]: "
                         "  Invalid offset, keeping current\n"
                         "Custom indicator label (Enter for none/auto) [Tokyo]: "
                         "Window size (96-1024) [96]: "
                         "  Invalid size, keeping 96\n"
                         "Font path (Enter for auto-detect) [/old.ttf]: "
                         "Main color R,G,B [0, 255, 0]: "
                         "  Invalid color, keeping current\n"
                         "Dim color R,G,B [0, 200, 0]: "
                         "Left click command: "
                         "Middle click command: "
                         "Right click command: "
                         "Run in the background? [y/N]: ");
}

struct AnswerCase {
    std::string name;
    int question; // 1-based
    std::string answer;
    std::function<void(Settings&)> start;
    std::function<void(Settings&)> expect; // applied to the start settings
    std::string message;                   // "" when the answer is silent
};

class DialogueAnswer : public testing::TestWithParam<AnswerCase> {};

TEST_P(DialogueAnswer, ChangesOnlyItsField)
{
    std::string script;
    for (int q = 1; q < GetParam().question; ++q)
        script += "\n";
    script += GetParam().answer + "\n";
    Settings start;
    GetParam().start(start);
    Settings expected = start;
    GetParam().expect(expected);
    std::istringstream in(script);
    std::ostringstream err;
    EXPECT_EQ(run_configure(start, in, err, no_font), expected);
    if (GetParam().message.empty())
        EXPECT_EQ(err.str().find("  Invalid"), std::string::npos);
    else
        EXPECT_NE(err.str().find(GetParam().message), std::string::npos) << err.str();
}

const auto none = [](Settings&) {};

INSTANTIATE_TEST_SUITE_P(
    Questions, DialogueAnswer,
    testing::Values(
        AnswerCase{"Format24h", 1, "24h", [](Settings& s) { s.format = TimeFormat::Hours12; },
                   [](Settings& s) { s.format = TimeFormat::Hours24; }, ""},
        AnswerCase{"FormatCapitalHIs24", 1, "12H",
                   [](Settings& s) { s.format = TimeFormat::Hours12; },
                   [](Settings& s) { s.format = TimeFormat::Hours24; }, ""},
        AnswerCase{"LocalInCapitalsClearsOffset", 4, "LOCAL",
                   [](Settings& s) { s.timezone = 3600; }, [](Settings& s) { s.timezone.reset(); },
                   ""},
        AnswerCase{"OffsetWithPrefix", 4, "utc+05:30", none,
                   [](Settings& s) { s.timezone = 5 * 3600 + 30 * 60; }, ""},
        AnswerCase{"SizeNotANumberIsSilent", 6, "big", none, none, ""},
        AnswerCase{"SizeMinusIsSilent", 6, "-200", none, none, ""},
        AnswerCase{"SizeWithPlus", 6, "+128", none, [](Settings& s) { s.size = 128; }, ""},
        AnswerCase{"SizeTooSmallNamesCurrent", 6, "95", [](Settings& s) { s.size = 300; }, none,
                   "  Invalid size, keeping 300\n"},
        AnswerCase{"ColorWithPlus", 8, "+10, 20, 30", none,
                   [](Settings& s) { s.color = Rgb{10, 20, 30}; }, ""},
        AnswerCase{"MiddleClick", 11, "xmessage hi", none,
                   [](Settings& s) { s.middle_click = "xmessage hi"; }, ""},
        // Texts the file could not hold are refused at their question, not after the last.
        AnswerCase{"LabelNotUtf8KeepsCurrent", 5, "caf\xE9", [](Settings& s) { s.label = "Tokyo"; },
                   none, "  Invalid text (not UTF-8), keeping current\n"},
        AnswerCase{"FontNotUtf8KeepsCurrent", 7, "/f\xFF.ttf", none, none,
                   "  Invalid text (not UTF-8), keeping current\n"},
        AnswerCase{"CommandWithALineBreakKeepsCurrent", 10, "xterm\rrm -rf ~", none, none,
                   "  Invalid text (line break), keeping current\n"},
        AnswerCase{"BackgroundOff", 13, "n", [](Settings& s) { s.background = true; },
                   [](Settings& s) { s.background = false; }, ""}),
    [](const auto& test_case) { return test_case.param.name; });

TEST(IsYes, OnlyFourSpellings)
{
    for (const char* yes : {"y", "Y", "yes", "YES"})
        EXPECT_TRUE(is_yes(yes)) << yes;
    for (const char* no : {"", "n", "Yes", "yES", "yes ", "ja"})
        EXPECT_FALSE(is_yes(no)) << no;
}

// ---- the write flow ----

struct WriteFlow : testing::Test {
    TempDir home;
    Environment env = fixed_environment({{"HOME", home.path}});
    std::ostringstream err;

    std::expected<int, Error> run(const Arguments& args)
    {
        std::istringstream in;
        return run_write_mode(args, env, in, err, no_font);
    }
};

TEST_F(WriteFlow, SingleDashIsAPath)
{
    const TempDir cwd; // relative targets are relative to the working directory
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(cwd.path);
    const auto status = run({"kd", "--write-config", "-", "--12h"});
    std::filesystem::current_path(previous);
    EXPECT_EQ(status, 0);
    EXPECT_NE(read_file(cwd.file("-")).find("\nformat = 12h\n"), std::string::npos);
    EXPECT_EQ(err.str(), "Config written to -\n");
}

TEST_F(WriteFlow, MalformedPathIsShownWithReplacementCharacters)
{
    const std::string target = home.file("caf\xE9");
    EXPECT_EQ(run({"kd", "--write-config", target}), 0);
    EXPECT_EQ(err.str(), "Config written to " + home.file("caf\xEF\xBF\xBD") + "\n");
    EXPECT_TRUE(std::filesystem::exists(target));
}

} // namespace
} // namespace kd
