#include "base/file_reading.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace kd {
namespace {

using test::TempDir;
using test::write_file;

constexpr ReadLimit LIMIT{16, "Test file"};

std::string file_holding(const TempDir& dir, const std::string& content)
{
    write_file(dir.file("f"), content);
    return dir.file("f");
}

struct ReadCase {
    std::string name;
    std::string (*prepare)(const TempDir& dir); // gives the path to read
    bool read;
    std::string expected; // the bytes read, or the refusal
};

class ReadWholeFile : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadWholeFile, ReadsOrRefusesWithoutWaiting)
{
    const TempDir dir;
    const auto bytes = read_whole_file(GetParam().prepare(dir), LIMIT);
    ASSERT_EQ(bytes.has_value(), GetParam().read) << (bytes ? "" : bytes.error().text);
    EXPECT_EQ(bytes ? std::string(bytes->begin(), bytes->end()) : bytes.error().text,
              GetParam().expected);
}

const std::string SIXTEEN_BYTES("\0\1\xff"
                                "3456789abcdef",
                                16);

INSTANTIATE_TEST_SUITE_P(
    Files, ReadWholeFile,
    testing::Values(
        ReadCase{"ExactlyTheLimit", [](const TempDir& d) { return file_holding(d, SIXTEEN_BYTES); },
                 true, SIXTEEN_BYTES},
        ReadCase{"Empty", [](const TempDir& d) { return file_holding(d, ""); }, true, ""},
        ReadCase{"OneByteOver",
                 [](const TempDir& d) { return file_holding(d, SIXTEEN_BYTES + "x"); }, false,
                 "Test file too large (17 bytes, max 16 bytes)"},
        // Refused by its size alone: reading it would take a tebibyte.
        ReadCase{"FarOver",
                 [](const TempDir& d) {
                     EXPECT_EQ(::truncate(file_holding(d, "").c_str(), off_t{1} << 40), 0);
                     return d.file("f");
                 },
                 false, "Test file too large (1099511627776 bytes, max 16 bytes)"},
        // Reports a size of 0 and has more: the read itself stops one byte past the limit.
        ReadCase{"GrowsPastItsSize",
                 [](const TempDir&) { return std::string("/proc/self/status"); }, false,
                 "Test file too large (17 bytes, max 16 bytes)"},
        ReadCase{"Missing", [](const TempDir& d) { return d.file("absent"); }, false,
                 "No such file or directory (os error 2)"},
        ReadCase{"EmptyPath", [](const TempDir&) { return std::string(); }, false,
                 "No such file or directory (os error 2)"},
        ReadCase{"Directory", [](const TempDir& d) { return d.path; }, false,
                 "Is a directory (os error 21)"},
        ReadCase{"EndlessDevice", [](const TempDir&) { return std::string("/dev/zero"); }, false,
                 "Not a regular file"},
        // Nobody ever writes to it: a blocking open or read would wait forever.
        ReadCase{"Fifo",
                 [](const TempDir& d) {
                     EXPECT_EQ(::mkfifo(d.file("pipe").c_str(), 0600), 0);
                     return d.file("pipe");
                 },
                 false, "Not a regular file"}),
    [](const auto& test_case) { return test_case.param.name; });

} // namespace
} // namespace kd
