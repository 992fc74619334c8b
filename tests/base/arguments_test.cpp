#include "base/arguments.hpp"

#include <gtest/gtest.h>

namespace kd {
namespace {

// Lists where the rules meet: values that look like options, repeated options, a value missing.
struct ListCase {
    std::string name;
    Arguments args; // the program name first
    std::string option;
    bool present;
    std::optional<std::string_view> first;
    std::vector<std::string_view> every;
    std::optional<std::string_view> unknown;
};

class ArgumentList : public testing::TestWithParam<ListCase> {};

TEST_P(ArgumentList, AnswersEachQuestion)
{
    const ListCase& list = GetParam();
    const std::span<const std::string> options = after_program_name(list.args);
    EXPECT_EQ(has_argument(options, list.option), list.present);
    EXPECT_EQ(value_after_first(options, list.option), list.first);
    EXPECT_EQ(values_after_each(options, list.option), list.every);
    EXPECT_EQ(first_unknown_option(options), list.unknown);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ArgumentList,
    testing::Values(
        ListCase{"StrayWordsAndValues",
                 {"kd", "-h", "foo", "", "-", "--label", "--bogus", "--write-config"},
                 "--label",
                 true,
                 "--bogus",
                 {"--bogus"},
                 {}},
        ListCase{
            "DockTwice", {"kd", "--dock", "1", "--dock", "2"}, "--dock", true, "1", {"1", "2"}, {}},
        ListCase{"FirstOccurrenceIsAValue",
                 {"kd", "--label", "--dock", "--dock", "5"},
                 "--dock",
                 true,
                 "--dock",
                 {"--dock", "5"},
                 {}},
        ListCase{"OptionAsItsOwnValue",
                 {"kd", "--label", "--label", "x"},
                 "--label",
                 true,
                 "--label",
                 {"--label", "x"},
                 {}},
        ListCase{"LoneDashesAsValueAndOption",
                 {"kd", "--write-config", "--", "--"},
                 "--",
                 true,
                 "--",
                 {"--"},
                 "--"},
        ListCase{"LetterCaseMatters", {"kd", "--Help"}, "--help", false, {}, {}, "--Help"},
        ListCase{"JoinedFormIsUnknown",
                 {"kd", "--size=128", "x"},
                 "--size",
                 false,
                 {},
                 {},
                 "--size=128"},
        ListCase{"ProgramNameIsNoOption", {"--help"}, "--help", false, {}, {}, {}},
        ListCase{"NoProgramName", {}, "--help", false, {}, {}, {}}),
    [](const auto& test_case) { return test_case.param.name; });

} // namespace
} // namespace kd
