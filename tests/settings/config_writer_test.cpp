#include "settings/config_writer.hpp"

#include "settings/config_file.hpp"
#include "settings/value_syntax.hpp"
#include "support/temp_dir.hpp"

#include <algorithm>
#include <gtest/gtest.h>

namespace kd {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

// docs/config.example ships as documentation: it is the text written for the defaults, and the
// one copy of that text the tests compare with.
std::string example_config_text()
{
    return read_file(std::string(KD_SOURCE_DIR) + "/docs/config.example");
}

constexpr const char* FULL_TEXT = R"text(# kestrelDial configuration
# See: kestrelDial --help

# Time format: 12h or 24h
format = 12h

# Show seconds in time display
seconds = true

# Show abbreviated month name
short_month = true

# Fixed UTC offset, e.g. +4, -5, +5:30 (default: system local time).
# When set, a compact indicator like (+4) is shown beside the time.
# Note: a fixed offset does not follow daylight saving time.
timezone = -9:30

# Custom text shown beside the date (overrides the timezone indicator).
label = (Tokyo) "x=1"

# Window size in pixels, 96 to 1024 (96 and 128 are the classic sizes)
size = 128

# Font file path (leave commented for auto-detect via fontconfig)
# No fallback font: Japanese/CJK text in the label needs a CJK-capable
# font, e.g. /usr/share/fonts/ja-ipafonts/ipagp.ttf
font = /usr/share/fonts/ja-ipafonts/ipagp.ttf

# Color theme: zenburn
theme = ZenBurn

# Main color (R, G, B)
color = 220, 193, 153

# Dim color (R, G, B)
dim_color = 180, 158, 125

# Left click command
left_click = xterm -e 'cal -3'

# Middle click command (default: reload config)
middle_click = true

# Right click command
right_click = notify-send "$(date)"

# Run in the background
background = true

# Show extra informational messages
# verbose = false

# Suppress all non-error output
# quiet = false
)text";

Settings full_settings()
{
    Settings s;
    s.format = TimeFormat::Hours12;
    s.seconds = true;
    s.short_month = true;
    s.timezone = -(9 * 3600 + 30 * 60);
    s.label = "(Tokyo) \"x=1\"";
    s.size = 128;
    s.font = "/usr/share/fonts/ja-ipafonts/ipagp.ttf";
    s.theme = "ZenBurn";
    s.color = ZENBURN_COLOR;
    s.dim_color = ZENBURN_DIM_COLOR;
    s.left_click = "xterm -e 'cal -3'";
    s.middle_click = "true";
    s.right_click = "notify-send \"$(date)\"";
    s.background = true;
    s.verbose = true;
    s.quiet = true;
    return s;
}

TEST(RenderConfig, DefaultsGiveTheExampleFileOfFiftyFourLinesWithoutActiveLine)
{
    const std::string text = render_config(Settings{});
    EXPECT_EQ(text, example_config_text());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 54);
    EXPECT_EQ(settings_from_text(text), Settings{});
}

TEST(RenderConfig, EveryFieldSet)
{
    EXPECT_EQ(render_config(full_settings()), FULL_TEXT);
}

TEST(RenderConfig, RoundTripKeepsEverythingButTheMessageSwitches)
{
    Settings expected = full_settings();
    expected.verbose = expected.quiet = false; // never written as active lines
    EXPECT_EQ(settings_from_text(render_config(full_settings())), expected);

    Settings other;
    other.timezone = 0;
    other.color = Rgb{1, 2, 3};
    other.theme = "zenburn"; // the explicit colour must survive the theme on reading
    other.size = 1024;
    const Rgb written_color = settings_from_text(render_config(other)).color;
    EXPECT_EQ(written_color, (Rgb{1, 2, 3}));
    EXPECT_EQ(settings_from_text(render_config(other)).timezone, 0);
    EXPECT_NE(render_config(other).find("\ntimezone = +0\n"), std::string::npos);
}

TEST(RenderConfig, DefaultColoursKeptUnderZenburnSurviveTheRoundTrip)
{
    // Read from "theme = zenburn" plus explicit default colours: both must come back as set.
    const Settings read =
        settings_from_text("theme = zenburn\ncolor = 0, 255, 0\ndim_color = 0,200,0\n");
    ASSERT_EQ(read.color, DEFAULT_COLOR);
    const std::string text = render_config(read);
    EXPECT_NE(text.find("\ncolor = 0, 255, 0\n"), std::string::npos);
    EXPECT_NE(text.find("\ndim_color = 0, 200, 0\n"), std::string::npos);
    EXPECT_EQ(settings_from_text(text), read);
}

TEST(RenderConfig, EmptyLabelKeepsItsBlank)
{
    Settings settings;
    settings.label = "";
    EXPECT_NE(render_config(settings).find("\nlabel = \n"), std::string::npos);
}

// ---- refused values ----

struct RefusedCase {
    std::string key;
    void (*set)(Settings&, std::string);
};

class RefusedValue : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedValue, LineBreakWritesNothing)
{
    const TempDir dir;
    write_file(dir.file("config"), "size = 200\n");
    for (const std::string value : {"a\nleft_click = rm -rf ~", "a\rb", "x\n"}) {
        Settings settings;
        GetParam().set(settings, value);
        const auto result = write_config(dir.file("config"), settings);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, Error::Kind::Message);
        EXPECT_EQ(result.error().text, GetParam().key + " contains a line break; not written");
    }
    Settings settings;
    GetParam().set(settings, "caf\xE9");
    const auto result = write_config(dir.file("config"), settings);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text, GetParam().key + " is not valid UTF-8; not written");
    EXPECT_EQ(read_file(dir.file("config")), "size = 200\n");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RefusedValue,
    testing::Values(
        RefusedCase{"label", [](Settings& s, std::string v) { s.label = v; }},
        RefusedCase{"font", [](Settings& s, std::string v) { s.font = v; }},
        RefusedCase{"theme", [](Settings& s, std::string v) { s.theme = v; }},
        RefusedCase{"left_click", [](Settings& s, std::string v) { s.left_click = v; }},
        RefusedCase{"middle_click", [](Settings& s, std::string v) { s.middle_click = v; }},
        RefusedCase{"right_click", [](Settings& s, std::string v) { s.right_click = v; }}),
    [](const auto& test_case) { return test_case.param.key; });

// ---- storing the file (the ways of storing are file_writing's) ----

TEST(WriteConfig, StoresTheTextAndNamesThePathInErrors)
{
    const TempDir dir;
    ASSERT_TRUE(write_config(dir.file("a/config"), full_settings()));
    EXPECT_EQ(read_file(dir.file("a/config")), FULL_TEXT);
    const auto refused = write_config(dir.path, Settings{});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, Error::Kind::Description);
    EXPECT_EQ(refused.error().text, "cannot write " + dir.path + ": Is a directory (os error 21)");
}

TEST(WriteNewConfig, PutsTheTextOnlyWhereNoFileIs)
{
    const TempDir dir;
    write_file(dir.file("there"), "size = 200\n");
    EXPECT_EQ(write_new_config(dir.file("there"), Settings{}), false);
    EXPECT_EQ(read_file(dir.file("there")), "size = 200\n");
    EXPECT_EQ(write_new_config(dir.file("a/config"), Settings{}), true);
    EXPECT_EQ(read_file(dir.file("a/config")), example_config_text());
    const auto refused = write_new_config(dir.file("newdir/"), Settings{});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().text,
              "cannot write " + dir.file("newdir/") + ": Is a directory (os error 21)");
}

} // namespace
} // namespace kd
