#include "settings/config_file.hpp"

#include "settings/value_syntax.hpp"
#include "support/temp_dir.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace kd {
namespace {

using test::TempDir;
using test::write_file;
using Variables = std::vector<std::pair<std::string, std::string>>;

// ---- config_path ----

struct PathCase {
    std::string name;
    Arguments args;
    Variables variables;
    std::optional<std::string> expected;
};

class ConfigPath : public testing::TestWithParam<PathCase> {};

TEST_P(ConfigPath, ChoosesTheFirstRuleThatApplies)
{
    EXPECT_EQ(config_path(GetParam().args, fixed_environment(GetParam().variables)),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ConfigPath,
    testing::Values(
        PathCase{"ConfigOption", {"kd", "--config", "/c/f"}, {{"HOME", "/h"}}, "/c/f"},
        PathCase{"EmptyConfigFallsBack",
                 {"kd", "--config", "", "--config", "b"},
                 {{"HOME", "/h"}},
                 "/h/.config/kestrelDial/config"},
        PathCase{"ConfigLastFallsBack",
                 {"kd", "--config"},
                 {{"XDG_CONFIG_HOME", "/x"}},
                 "/x/kestrelDial/config"},
        PathCase{"XdgBeforeHome",
                 {"kd"},
                 {{"XDG_CONFIG_HOME", "/x/"}, {"HOME", "/h"}},
                 "/x/kestrelDial/config"},
        PathCase{"EmptyXdgIsUnset",
                 {"kd"},
                 {{"XDG_CONFIG_HOME", ""}, {"HOME", "/h/"}},
                 "/h/.config/kestrelDial/config"},
        PathCase{"MalformedXdgIsUnset",
                 {"kd"},
                 {{"XDG_CONFIG_HOME", "/x\xFF"}, {"HOME", "/h"}},
                 "/h/.config/kestrelDial/config"},
        PathCase{"EmptyHomeIsRelative", {"kd"}, {{"HOME", ""}}, ".config/kestrelDial/config"},
        PathCase{"MalformedHome", {"kd"}, {{"HOME", "/h\xFF"}}, std::nullopt},
        PathCase{"Nothing", {"kd"}, {}, std::nullopt}),
    [](const auto& test_case) { return test_case.param.name; });

// ---- settings_from_text ----

// The theme as given, with both of zenburn's colours.
std::function<void(Settings&)> zenburn_named(const std::string& name)
{
    return [name](Settings& s) {
        s.theme = name;
        s.color = ZENBURN_COLOR;
        s.dim_color = ZENBURN_DIM_COLOR;
    };
}

struct TextCase {
    std::string name;
    std::string text;
    std::function<void(Settings&)> expect; // applied to the defaults
};

class SettingsFromText : public testing::TestWithParam<TextCase> {};

TEST_P(SettingsFromText, AppliesValidLinesInOrder)
{
    Settings expected;
    GetParam().expect(expected);
    EXPECT_EQ(settings_from_text(GetParam().text), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SettingsFromText,
    testing::Values(
        TextCase{"Empty", "", [](Settings&) {}},
        TextCase{"CommentsOnly", "# size = 128\n  # seconds = true\n\n", [](Settings&) {}},
        TextCase{"IndentedWithTrailingBlanks", "   size=128   \n",
                 [](Settings& s) { s.size = 128; }},
        TextCase{"KeyCaseMatters", "Size = 128\n", [](Settings&) {}},
        TextCase{"NoInlineComments", "size = 128 # big\n", [](Settings&) {}},
        TextCase{"LineWithoutEquals", "seconds\n", [](Settings&) {}},
        TextCase{"WindowsLineEnds", "seconds = true\r\nsize = 200\r\n",
                 [](Settings& s) {
                     s.seconds = true;
                     s.size = 200;
                 }},
        TextCase{"BooleanOnlyLowerCaseTrue", "seconds = TRUE\nshort_month = true\n",
                 [](Settings& s) { s.short_month = true; }},
        TextCase{"LaterLineWins", "seconds = true\nseconds = no\n", [](Settings&) {}},
        TextCase{"BadSizesSkipped", "size = 200\nsize = 1025\nsize = 64\nsize = -200\n",
                 [](Settings& s) { s.size = 200; }},
        TextCase{"FormatOnlyExact12h", "format = 12h\n",
                 [](Settings& s) { s.format = TimeFormat::Hours12; }},
        TextCase{"Format12HIs24", "format = 12h\nformat = 12H\n", [](Settings&) {}},
        TextCase{"EmptyTextsLeaveFieldsAbsent", "label =\nfont = \nmiddle_click =\n",
                 [](Settings&) {}},
        TextCase{"ValueKeepsFurtherEquals", "left_click = a=b = c\n",
                 [](Settings& s) { s.left_click = "a=b = c"; }},
        TextCase{"QuotesArePartOfTheValue", "label = \"Tokyo\"\n",
                 [](Settings& s) { s.label = "\"Tokyo\""; }},
        TextCase{"BadTimezoneKeepsEarlier", "timezone = +4\ntimezone = +25\n",
                 [](Settings& s) { s.timezone = 4 * 3600; }},
        TextCase{"ThemeFillsOnlyUnsetColours", "dim_color = 1, 2, 3\ntheme = zenburn\n",
                 [](Settings& s) {
                     s.theme = "zenburn";
                     s.color = ZENBURN_COLOR;
                     s.dim_color = Rgb{1, 2, 3};
                 }},
        TextCase{"ExplicitDefaultColourCountsAsSet", "theme = zenburn\ncolor = 0, 255, 0\n",
                 [](Settings& s) {
                     s.theme = "zenburn";
                     s.dim_color = ZENBURN_DIM_COLOR;
                 }},
        TextCase{"ThemeFillsBothColoursAnInvalidOneSetsNone", "theme = ZenBurn\ncolor = 1, 2\n",
                 zenburn_named("ZenBurn")},
        TextCase{"OtherThemeStoredWithoutColours", "theme = solarized\n",
                 [](Settings& s) { s.theme = "solarized"; }},
        TextCase{"EverySwitch",
                 "background = true\nverbose = true\nquiet = true\nright_click = xterm\n",
                 [](Settings& s) {
                     s.background = s.verbose = s.quiet = true;
                     s.right_click = "xterm";
                 }}),
    [](const auto& test_case) { return test_case.param.name; });

// ---- apply_command_line ----

struct CommandLineCase {
    std::string name;
    std::string file;
    Arguments args;
    std::function<void(Settings&)> expect; // applied to settings_from_text(file)
    std::string messages{};                // on the error stream
};

class CommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, IsLaidOverTheFile)
{
    Settings settings = settings_from_text(GetParam().file);
    Settings expected = settings;
    GetParam().expect(expected);
    std::ostringstream err;
    apply_command_line(settings, GetParam().args, err);
    EXPECT_EQ(settings, expected);
    EXPECT_EQ(err.str(), GetParam().messages);
}

INSTANTIATE_TEST_SUITE_P(
    Precedence, CommandLine,
    testing::Values(
        CommandLineCase{"SwitchesAnywhere",
                        "",
                        {"kd", "--12h", "x", "--seconds", "--short-month", "--background",
                         "--verbose", "--quiet"},
                        [](Settings& s) {
                            s.format = TimeFormat::Hours12;
                            s.seconds = s.short_month = s.background = s.verbose = s.quiet = true;
                        }},
        CommandLineCase{
            "SwitchesOnlyTurnOn", "seconds = true\nformat = 12h\n", {"kd"}, [](Settings&) {}},
        CommandLineCase{"SizeFromCommandLine",
                        "size = 200\n",
                        {"kd", "--size", "+128"},
                        [](Settings& s) { s.size = 128; }},
        CommandLineCase{"BadSizesIgnoredSilently",
                        "size = 200\n",
                        {"kd", "--size", "95", "--size", "1025", "--size", " 128"},
                        [](Settings&) {}},
        CommandLineCase{"SizeWithoutValue", "size = 200\n", {"kd", "--size"}, [](Settings&) {}},
        CommandLineCase{"BadTimezoneReportedAndSkipped",
                        "timezone = -5\n",
                        {"kd", "--timezone", "+25"},
                        [](Settings&) {},
                        "kestrelDial: invalid --timezone '+25' (use e.g. +4, -5, +5:30)\n"},
        CommandLineCase{"LaterTimezoneWins",
                        "",
                        {"kd", "--timezone", "+4", "--timezone", "-5:30"},
                        [](Settings& s) { s.timezone = -(5 * 3600 + 30 * 60); }},
        CommandLineCase{"EmptyLabelIsALabel",
                        "label = file\n",
                        {"kd", "--label", ""},
                        [](Settings& s) { s.label = ""; }},
        CommandLineCase{"ValueMayLookLikeAnOption",
                        "",
                        {"kd", "--label", "--seconds"},
                        [](Settings& s) {
                            s.label = "--seconds";
                            s.seconds = true;
                        }},
        CommandLineCase{"ThemeOptionOverridesFileColours",
                        "color = 9, 9, 9\ntheme = other\n",
                        {"kd", "--theme", "ZENBURN"},
                        zenburn_named("ZENBURN")},
        CommandLineCase{"OtherThemeOptionKeepsColours",
                        "color = 9, 9, 9\n",
                        {"kd", "--theme", "solarized"},
                        [](Settings& s) { s.theme = "solarized"; }},
        CommandLineCase{"FontOption",
                        "font = /a.ttf\n",
                        {"kd", "--font", "/b.ttf"},
                        [](Settings& s) { s.font = "/b.ttf"; }},
        CommandLineCase{
            "NonSettingOptionsIgnored",
            "",
            {"kd", "--config", "/c", "--dock", "3", "--write-config", "/w", "--configure"},
            [](Settings&) {}}),
    [](const auto& test_case) { return test_case.param.name; });

// ---- reading the file ----

TEST(LoadSettings, ReadsTheFileFoundByConfigPath)
{
    const TempDir home;
    write_file(home.file(".config/kestrelDial/config"), "size = 300\n");
    write_file(home.file("other"), "size = 400\n");
    const Environment env = fixed_environment({{"HOME", home.path}});
    EXPECT_EQ(load_settings({"kd"}, env).size, 300u);
    EXPECT_EQ(load_settings({"kd", "--config", home.file("other")}, env).size, 400u);
    EXPECT_EQ(load_settings({"kd", "--config", home.file("missing")}, env), Settings{});
    EXPECT_EQ(load_settings({"kd"}, fixed_environment({})), Settings{});
}

// Refusals of what is not a regular file are file_reading's; these are the config's own.
TEST(ReadConfigText, RefusesMalformedUtf8AndFilesOverTheLimit)
{
    const TempDir dir;
    write_file(dir.file("config"), "size = 300\nlabel = caf\xE9\n");
    EXPECT_FALSE(read_config_text(dir.file("config")));
    // One malformed byte discards the good lines too.
    EXPECT_EQ(load_settings({"kd", "--config", dir.file("config")}, fixed_environment({})),
              Settings{});

    write_file(dir.file("limit"), std::string(MAX_CONFIG_FILE_SIZE, '#'));
    EXPECT_EQ(read_config_text(dir.file("limit")).value_or("").size(), MAX_CONFIG_FILE_SIZE);
    write_file(dir.file("large"), std::string(MAX_CONFIG_FILE_SIZE + 1, '#'));
    EXPECT_FALSE(read_config_text(dir.file("large")));
}

} // namespace
} // namespace kd
