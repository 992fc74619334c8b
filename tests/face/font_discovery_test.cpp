#include "face/font_discovery.hpp"

#include "support/temp_dir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kd {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

// A fake fc-match on a private PATH; it records its arguments and standard input.
struct FakeMatcher {
    TempDir dir;

    Environment environment() const { return fixed_environment({{"PATH", dir.path}}); }

    void install(const std::string& body) const
    {
        const std::string script = dir.file("fc-match");
        write_file(script, "#!/bin/sh\nprintf '%s|' \"$@\" > '" + dir.file("arguments") +
                               "'\ncat > '" + dir.file("stdin") + "'\n" + body + "\n");
        ::chmod(script.c_str(), 0755);
    }
};

TEST(FcMatch, RunsWithExactlyTheThreeArgumentsAndEmptyInput)
{
    FakeMatcher matcher;
    matcher.install("echo /fonts/Mono.ttf");
    EXPECT_EQ(fc_match_monospace(matcher.environment()), "/fonts/Mono.ttf");
    EXPECT_EQ(read_file(matcher.dir.file("arguments")), "--format|%{file}|monospace|");
    EXPECT_EQ(read_file(matcher.dir.file("stdin")), "");
}

struct MatcherCase {
    const char* name;
    std::string body;
    std::optional<std::string> expected;
};

class FcMatchOutput : public ::testing::TestWithParam<MatcherCase> {};

TEST_P(FcMatchOutput, CountsOnlyCleanSuccess)
{
    FakeMatcher matcher;
    matcher.install(GetParam().body);
    EXPECT_EQ(fc_match_monospace(matcher.environment()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, FcMatchOutput,
    ::testing::Values(
        MatcherCase{"trimmed", "printf '  /a b/Mono.ttf \\n\\n'", "/a b/Mono.ttf"},
        MatcherCase{"exit_status_one", "echo /fonts/Mono.ttf; exit 1", std::nullopt},
        MatcherCase{"killed", "echo /fonts/Mono.ttf; kill -9 $$", std::nullopt},
        MatcherCase{"no_output", "exit 0", std::nullopt},
        MatcherCase{"only_white_space", "printf ' \\t\\n'", std::nullopt},
        // Each malformed piece is one U+FFFD: E0 80 80 is three, as E0 wants A0..BF next.
        MatcherCase{"invalid_utf8_replaced", "printf '/f\\377\\303o\\340\\200\\200.ttf'",
                    "/f\xEF\xBF\xBD\xEF\xBF\xBDo\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.ttf"},
        MatcherCase{"valid_utf8_kept", "printf '/f\\303\\266.ttf'", "/f\xC3\xB6.ttf"},
        // Standard error goes nowhere, so a chatty matcher cannot fill a pipe and stall.
        MatcherCase{"noisy_stderr", "head -c 300000 /dev/zero >&2; echo /x.ttf", "/x.ttf"},
        // More output than any path is refused rather than collected without bound.
        MatcherCase{"endless_output", "exec cat /dev/zero", std::nullopt}),
    [](const ::testing::TestParamInfo<MatcherCase>& test_case) {
        return std::string(test_case.param.name);
    });

TEST(FcMatch, OnlyAnExecutableAlongThePathCounts)
{
    FakeMatcher matcher;
    matcher.install("echo /second.ttf");
    TempDir empty, first;
    write_file(first.file("fc-match"), "#!/bin/sh\necho /first.ttf\n"); // not executable
    EXPECT_EQ(fc_match_monospace(fixed_environment({{"PATH", empty.path}})), std::nullopt);
    EXPECT_EQ(fc_match_monospace(fixed_environment({{"PATH", first.path}})), std::nullopt);
    EXPECT_EQ(
        fc_match_monospace(fixed_environment({{"PATH", first.path + ":" + matcher.dir.path}})),
        "/second.ttf");
}

// Discovery with the sources replaced: which path wins and what is reported.
struct Discovery {
    TempDir dir;
    int matcher_calls = 0;
    std::vector<std::string> announced;

    // A copy of the test font.
    std::string font(const std::string& name)
    {
        std::filesystem::copy_file(KD_TEST_FONT, dir.file(name));
        return dir.file(name);
    }

    // A file that reads but is no font.
    std::string unparsable(const std::string& name)
    {
        write_file(dir.file(name), std::string(4096, 'x'));
        return dir.file(name);
    }

    std::expected<FoundFont, Error> find(const std::optional<std::string>& configured,
                                         const FontSources& sources)
    {
        return find_font(configured, sources,
                         [this](const std::string& path) { announced.push_back(path); });
    }

    FontSources sources(std::optional<std::string> matched, std::vector<std::string> candidates)
    {
        return FontSources{[this, matched] {
                               ++matcher_calls;
                               return matched;
                           },
                           std::move(candidates)};
    }
};

// An empty path is reported as it is, too.
TEST(FindFont, ConfiguredPathNeverFallsBack)
{
    Discovery d;
    const std::string good = d.font("good.ttf");
    for (const std::string& configured : {d.dir.file("missing.ttf"), std::string()}) {
        const auto found = d.find(configured, d.sources(good, {good}));
        ASSERT_FALSE(found.has_value());
        EXPECT_EQ(found.error().kind, Error::Kind::Message);
        EXPECT_EQ(found.error().text,
                  "Cannot read font '" + configured + "': No such file or directory (os error 2)");
    }
    EXPECT_TRUE(d.announced.empty());
    EXPECT_EQ(d.matcher_calls, 0);
}

TEST(FindFont, ConfiguredPathIsReadAndParsed)
{
    Discovery d;
    const std::string path = d.font("mine.ttf");
    const auto found = d.find(path, d.sources(std::nullopt, {}));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->path, path);
    EXPECT_EQ(found->font.units_per_em, 2048);
    EXPECT_EQ(d.announced, std::vector<std::string>{path});
}

// A configured font is named before it is parsed, and its parse failure is final.
TEST(FindFont, ConfiguredPathThatDoesNotParseNeverFallsBack)
{
    Discovery d;
    const std::string path = d.unparsable("mine.otb");
    const auto found = d.find(path, d.sources(d.font("matched.ttf"), {d.font("candidate.ttf")}));
    ASSERT_FALSE(found.has_value());
    EXPECT_EQ(found.error().text, "Failed to parse font: unknown file format");
    EXPECT_EQ(d.announced, std::vector<std::string>{path});
    EXPECT_EQ(d.matcher_calls, 0);
}

TEST(FindFont, MatcherBeforeCandidates)
{
    Discovery d;
    const std::string matched = d.font("matched.ttf");
    const auto found = d.find(std::nullopt, d.sources(matched, {d.font("candidate.ttf")}));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->path, matched);
    EXPECT_EQ(d.announced, std::vector<std::string>{matched});
    EXPECT_EQ(d.matcher_calls, 1);
}

TEST(FindFont, UnreadableMatchFallsToTheFirstReadableCandidate)
{
    Discovery d;
    const std::string second = d.font("second.ttf");
    const auto found =
        d.find(std::nullopt,
               d.sources(d.dir.file("gone.ttf"),
                         {d.dir.file("absent.ttf"), d.dir.path, second, d.font("third.ttf")}));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->path, second);
    EXPECT_EQ(d.matcher_calls, 1);
}

struct PassOverCase {
    const char* name;
    // File names in the test's directory: ".ttf" a font, ".otb" a file that is no font,
    // anything else missing.
    std::optional<std::string> matched;
    std::vector<std::string> candidates;
    std::optional<std::string> chosen; // else the error, with {dir} for the directory
    std::string error;
};

class FindFontPassesOver : public ::testing::TestWithParam<PassOverCase> {};

// A discovered file that reads but does not parse is passed over; only the font finally used
// is named.
TEST_P(FindFontPassesOver, FilesThatDoNotParse)
{
    const PassOverCase& c = GetParam();
    Discovery d;
    const auto prepare = [&](const std::string& name) {
        if (name.ends_with(".ttf")) return d.font(name);
        if (name.ends_with(".otb")) return d.unparsable(name);
        return d.dir.file(name);
    };
    std::vector<std::string> candidates;
    for (const std::string& name : c.candidates)
        candidates.push_back(prepare(name));
    const auto found = d.find(
        std::nullopt,
        d.sources(c.matched ? std::optional(prepare(*c.matched)) : std::nullopt, candidates));
    if (c.chosen) {
        ASSERT_TRUE(found.has_value()) << found.error().text;
        EXPECT_EQ(found->path, d.dir.file(*c.chosen));
        EXPECT_EQ(d.announced, std::vector<std::string>{d.dir.file(*c.chosen)});
    } else {
        ASSERT_FALSE(found.has_value());
        std::string error = c.error;
        error.replace(error.find("{dir}"), 5, d.dir.path);
        EXPECT_EQ(found.error().text, error);
        EXPECT_TRUE(d.announced.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, FindFontPassesOver,
    ::testing::Values(PassOverCase{"bitmap_match_then_candidate",
                                   "terminus.otb",
                                   {"gone", "DejaVu.ttf"},
                                   "DejaVu.ttf",
                                   ""},
                      PassOverCase{"candidates_in_turn",
                                   std::nullopt,
                                   {"broken.otb", "gone", "other.otb", "good.ttf", "later.ttf"},
                                   "good.ttf",
                                   ""},
                      PassOverCase{"none_parses",
                                   "terminus.otb",
                                   {"gone", "broken.otb"},
                                   std::nullopt,
                                   "Failed to parse font: unknown file format in "
                                   "'{dir}/terminus.otb'. Use --font <path> to choose a font"},
                      PassOverCase{"only_a_candidate_reads",
                                   std::nullopt,
                                   {"gone", "broken.otb"},
                                   std::nullopt,
                                   "Failed to parse font: unknown file format in "
                                   "'{dir}/broken.otb'. Use --font <path> to choose a font"}),
    [](const ::testing::TestParamInfo<PassOverCase>& test_case) {
        return std::string(test_case.param.name);
    });

TEST(FindFont, NothingReadableIsTheNoFontMessage)
{
    Discovery d;
    const auto found = find_font(std::nullopt, d.sources(std::nullopt, {d.dir.file("absent.ttf")}));
    ASSERT_FALSE(found.has_value());
    EXPECT_EQ(found.error().kind, Error::Kind::Message);
    EXPECT_EQ(found.error().text, "No font found. Install a monospace font or use --font <path>");
}

TEST(FindFont, SystemSourcesUseTheMatcherOnPath)
{
    FakeMatcher matcher;
    matcher.install("echo " KD_TEST_FONT);
    const FontSources sources = system_font_sources(matcher.environment());
    EXPECT_EQ(sources.candidates.size(), FALLBACK_FONTS.size());
    const auto found = find_font(std::nullopt, sources);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->path, KD_TEST_FONT);
}

} // namespace
} // namespace kd
