#include "face/font.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace kd {
namespace {

using test::TempDir;
using test::read_file;
using test::write_file;

void make_sparse_file(const std::string& path, std::uint64_t size)
{
    write_file(path, "");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

TEST(ReadFontFile, AcceptsExactlyTheLimit)
{
    TempDir dir;
    make_sparse_file(dir.file("limit.ttf"), MAX_FONT_FILE_SIZE);
    const auto bytes = read_font_file(dir.file("limit.ttf"));
    ASSERT_TRUE(bytes.has_value()) << bytes.error();
    EXPECT_EQ(bytes->size(), MAX_FONT_FILE_SIZE);
}

TEST(ReadFontFile, ReadsTheWholeFile)
{
    TempDir dir;
    const std::string content("\0\1font\xff", 7);
    write_file(dir.file("small.ttf"), content);
    const auto bytes = read_font_file(dir.file("small.ttf"));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), content);
}

struct RefusalCase {
    const char* name;
    std::string expected;
};

// Each case names a path that read_font_file must refuse, promptly and with the given text.
class ReadFontFileRefuses : public ::testing::TestWithParam<RefusalCase> {
protected:
    TempDir dir;

    std::string prepare(const std::string& name)
    {
        if (name == "one_byte_over") make_sparse_file(dir.file("big.ttf"), MAX_FONT_FILE_SIZE + 1);
        if (name == "one_byte_over") return dir.file("big.ttf");
        if (name == "far_over") make_sparse_file(dir.file("huge.ttf"), 1ull << 40);
        if (name == "far_over") return dir.file("huge.ttf");
        if (name == "missing") return dir.file("absent.ttf");
        if (name == "empty_path") return "";
        if (name == "directory") return dir.path;
        if (name == "endless_device") return "/dev/zero";
        if (name == "fifo") {
            // Nobody ever writes to it: a blocking read would wait forever.
            EXPECT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
            return dir.file("pipe");
        }
        return name;
    }
};

TEST_P(ReadFontFileRefuses, WithTheReason)
{
    const auto bytes = read_font_file(prepare(GetParam().name));
    ASSERT_FALSE(bytes.has_value());
    EXPECT_EQ(bytes.error(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ReadFontFileRefuses,
    ::testing::Values(
        RefusalCase{"one_byte_over", "Font file too large (10485761 bytes, max 10485760 bytes)"},
        RefusalCase{"far_over", "Font file too large (1099511627776 bytes, max 10485760 bytes)"},
        RefusalCase{"missing", "No such file or directory (os error 2)"},
        RefusalCase{"empty_path", "No such file or directory (os error 2)"},
        RefusalCase{"directory", "Is a directory (os error 21)"},
        RefusalCase{"endless_device", "Not a regular file"},
        RefusalCase{"fifo", "Not a regular file"}),
    [](const ::testing::TestParamInfo<RefusalCase>& test_case) { return std::string(test_case.param.name); });

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
        MatcherCase{"invalid_utf8_replaced", "printf '/f\\377\\303o.ttf'", "/f\xEF\xBF\xBD\xEF\xBF\xBDo.ttf"},
        MatcherCase{"valid_utf8_kept", "printf '/f\\303\\266.ttf'", "/f\xC3\xB6.ttf"},
        // Standard error goes nowhere, so a chatty matcher cannot fill a pipe and stall.
        MatcherCase{"noisy_stderr", "head -c 300000 /dev/zero >&2; echo /x.ttf", "/x.ttf"},
        // More output than any path is refused rather than collected without bound.
        MatcherCase{"endless_output", "exec cat /dev/zero", std::nullopt}),
    [](const ::testing::TestParamInfo<MatcherCase>& test_case) { return std::string(test_case.param.name); });

TEST(FcMatch, AbsentFromPathGivesNothing)
{
    TempDir empty;
    EXPECT_EQ(fc_match_monospace(fixed_environment({{"PATH", empty.path}})), std::nullopt);
}

TEST(FcMatch, SkipsEntriesThatAreNotExecutable)
{
    FakeMatcher matcher;
    matcher.install("echo /second.ttf");
    TempDir first;
    write_file(first.file("fc-match"), "#!/bin/sh\necho /first.ttf\n"); // not executable
    const Environment env = fixed_environment({{"PATH", first.path + ":" + matcher.dir.path}});
    EXPECT_EQ(fc_match_monospace(env), "/second.ttf");
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

    std::expected<FoundFont, Error> find(const std::optional<std::string>& configured, const FontSources& sources)
    {
        return find_font(configured, sources, [this](const std::string& path) { announced.push_back(path); });
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

TEST(FindFont, ConfiguredPathNeverFallsBack)
{
    Discovery d;
    const std::string good = d.font("good.ttf");
    const auto found = d.find(d.dir.file("missing.ttf"), d.sources(good, {good}));
    ASSERT_FALSE(found.has_value());
    EXPECT_EQ(found.error().kind, Error::Kind::Message);
    EXPECT_EQ(found.error().text, "Cannot read font '" + d.dir.file("missing.ttf") +
                                      "': No such file or directory (os error 2)");
    EXPECT_TRUE(d.announced.empty());
    EXPECT_EQ(d.matcher_calls, 0);
}

TEST(FindFont, EmptyConfiguredPathIsReportedAsIs)
{
    Discovery d;
    const auto found = find_font(std::string(), d.sources(std::nullopt, {}));
    ASSERT_FALSE(found.has_value());
    EXPECT_EQ(found.error().text, "Cannot read font '': No such file or directory (os error 2)");
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
    const auto found = d.find(
        std::nullopt, d.sources(d.dir.file("gone.ttf"),
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
    for (const std::string& name : c.candidates) candidates.push_back(prepare(name));
    const auto found =
        d.find(std::nullopt, d.sources(c.matched ? std::optional(prepare(*c.matched)) : std::nullopt, candidates));
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
    ::testing::Values(
        PassOverCase{"bitmap_match_then_candidate", "terminus.otb", {"gone", "DejaVu.ttf"}, "DejaVu.ttf", ""},
        PassOverCase{"candidates_in_turn", std::nullopt, {"broken.otb", "gone", "other.otb", "good.ttf", "later.ttf"},
                     "good.ttf", ""},
        PassOverCase{"none_parses", "terminus.otb", {"gone", "broken.otb"}, std::nullopt,
                     "Failed to parse font: unknown file format in '{dir}/terminus.otb'. Use --font <path> to choose a font"},
        PassOverCase{"only_a_candidate_reads", std::nullopt, {"gone", "broken.otb"}, std::nullopt,
                     "Failed to parse font: unknown file format in '{dir}/broken.otb'. Use --font <path> to choose a font"}),
    [](const ::testing::TestParamInfo<PassOverCase>& test_case) { return std::string(test_case.param.name); });

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

TEST(LoadFont, ReadsTheMetricsOfATrueTypeFont)
{
    auto bytes = read_font_file(KD_TEST_FONT);
    ASSERT_TRUE(bytes.has_value());
    const auto font = load_font(std::move(*bytes));
    ASSERT_TRUE(font.has_value()) << font.error().text;
    EXPECT_EQ(font->units_per_em, 2048);
    EXPECT_EQ(font->ascender, 1901);
}

struct BadFontCase {
    const char* name;
    std::string bytes;
    std::string expected;
};

class LoadFontRefuses : public ::testing::TestWithParam<BadFontCase> {};

TEST_P(LoadFontRefuses, WithTheParsersReason)
{
    const std::string& text = GetParam().bytes;
    const auto font = load_font(std::vector<std::uint8_t>(text.begin(), text.end()));
    ASSERT_FALSE(font.has_value());
    EXPECT_EQ(font.error().kind, Error::Kind::Message);
    EXPECT_EQ(font.error().text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, LoadFontRefuses,
    ::testing::Values(
        BadFontCase{"text", std::string(4096, 'x'), "Failed to parse font: unknown file format"},
        BadFontCase{"empty", "", "Failed to parse font: unknown file format"},
        BadFontCase{"truncated_sfnt", std::string("\0\1\0\0\0\x10", 6), "Failed to parse font: invalid stream operation"}),
    [](const ::testing::TestParamInfo<BadFontCase>& test_case) { return std::string(test_case.param.name); });

} // namespace
} // namespace kd
