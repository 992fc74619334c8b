#include "face/font.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace kd {
namespace {

using test::TempDir;
using test::write_file;

void make_sparse_file(const std::string& path, std::uint64_t size)
{
    write_file(path, "");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

// The font's own limit and words; every other refusal is the file reader's.
TEST(ReadFontFile, TakesTenMebibytesAndNotAByteMore)
{
    TempDir dir;
    make_sparse_file(dir.file("limit.ttf"), MAX_FONT_FILE_SIZE);
    const auto bytes = read_font_file(dir.file("limit.ttf"));
    ASSERT_TRUE(bytes.has_value()) << bytes.error().text;
    EXPECT_EQ(bytes->size(), MAX_FONT_FILE_SIZE);
    make_sparse_file(dir.file("big.ttf"), MAX_FONT_FILE_SIZE + 1);
    const auto refused = read_font_file(dir.file("big.ttf"));
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().text, "Font file too large (10485761 bytes, max 10485760 bytes)");
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
    ::testing::Values(BadFontCase{"text", std::string(4096, 'x'),
                                  "Failed to parse font: unknown file format"},
                      BadFontCase{"empty", "", "Failed to parse font: unknown file format"},
                      BadFontCase{"truncated_sfnt", std::string("\0\1\0\0\0\x10", 6),
                                  "Failed to parse font: invalid stream operation"}),
    [](const ::testing::TestParamInfo<BadFontCase>& test_case) {
        return std::string(test_case.param.name);
    });

} // namespace
} // namespace kd
