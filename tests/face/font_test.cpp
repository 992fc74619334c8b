#include "face/font.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
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
    [](const ::testing::TestParamInfo<RefusalCase>& test_case) {
        return std::string(test_case.param.name);
    });

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
