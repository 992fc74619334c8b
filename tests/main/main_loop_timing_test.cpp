// The loop's timing rules, without a display: when a pass repaints and how long it waits.
#include "main/main_loop.hpp"

#include <gtest/gtest.h>

#include <ostream>

namespace kd {
namespace {

struct WaitCase {
    bool seconds_mode;
    int second;
    int microsecond;
    int expected_microseconds;
};

void PrintTo(const WaitCase& c, std::ostream* out)
{
    *out << (c.seconds_mode ? "seconds " : "minutes ") << c.second << "s+" << c.microsecond << "us";
}

class PassWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(PassWait, WakesJustAfterTheNextBoundary)
{
    const auto& c = GetParam();
    const auto wait = pass_wait(c.seconds_mode, c.second, c.microsecond * 1000);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(wait).count(),
              c.expected_microseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PassWait,
    ::testing::Values(
        // With seconds: 2 ms past the next boundary, to the nanosecond; 10 ms when that is nearer.
        WaitCase{true, 0, 0, 1002000}, WaitCase{true, 30, 500000, 502000},
        WaitCase{true, 30, 500999, 501001}, WaitCase{true, 12, 990000, 12000},
        WaitCase{true, 12, 992000, 10000}, WaitCase{true, 12, 995000, 10000},
        WaitCase{true, 59, 999999, 10000},
        // Without: a second at a time, 100 ms steps in the minute's last second.
        WaitCase{false, 0, 0, 1000000}, WaitCase{false, 30, 0, 1000000},
        WaitCase{false, 58, 850000, 1000000}, WaitCase{false, 58, 950000, 950000},
        WaitCase{false, 58, 950999, 950000}, WaitCase{false, 59, 0, 900000},
        WaitCase{false, 59, 850000, 100000}, WaitCase{false, 59, 899000, 100000},
        WaitCase{false, 59, 999000, 100000}));

std::tm at(int minute, int second, int hour = 12, int day_of_year = 0)
{
    std::tm shown{};
    shown.tm_yday = day_of_year;
    shown.tm_hour = hour;
    shown.tm_min = minute;
    shown.tm_sec = second;
    return shown;
}

TEST(RepaintTurn, FirstPassAlwaysPaints)
{
    RepaintMarks seconds_marks;
    EXPECT_TRUE(take_repaint_turn(seconds_marks, true, at(0, 0), false));
    RepaintMarks minute_marks;
    EXPECT_TRUE(take_repaint_turn(minute_marks, false, at(59, 59), false));
}

TEST(RepaintTurn, SecondsModePaintsOncePerSecond)
{
    RepaintMarks marks;
    EXPECT_TRUE(take_repaint_turn(marks, true, at(5, 10), false));
    EXPECT_FALSE(take_repaint_turn(marks, true, at(5, 10), false));
    EXPECT_TRUE(take_repaint_turn(marks, true, at(5, 11), false));
    // The same second of the next minute is still a change from the last one painted.
    EXPECT_TRUE(take_repaint_turn(marks, true, at(6, 10), false));
}

TEST(RepaintTurn, MinuteModeIgnoresSecondsUntilTheMinuteTurns)
{
    RepaintMarks marks;
    EXPECT_TRUE(take_repaint_turn(marks, false, at(0, 30), false));
    EXPECT_FALSE(take_repaint_turn(marks, false, at(0, 31), false));
    EXPECT_FALSE(take_repaint_turn(marks, false, at(0, 59), false));
    EXPECT_TRUE(take_repaint_turn(marks, false, at(1, 0), false));
}

TEST(RepaintTurn, AnHourOrADayMovedUnderAKeptMinuteIsAChange)
{
    // The system zone changed by an hour, then the clock was set a day on.
    for (const bool seconds_mode : {false, true}) {
        RepaintMarks marks;
        ASSERT_TRUE(take_repaint_turn(marks, seconds_mode, at(5, 10), false));
        EXPECT_TRUE(take_repaint_turn(marks, seconds_mode, at(5, 10, 13), false));
        EXPECT_TRUE(take_repaint_turn(marks, seconds_mode, at(5, 10, 13, 1), false));
        EXPECT_FALSE(take_repaint_turn(marks, seconds_mode, at(5, 10, 13, 1), false));
    }
}

TEST(RepaintTurn, ForceRepaintsAndMovesTheMark)
{
    RepaintMarks marks;
    ASSERT_TRUE(take_repaint_turn(marks, true, at(0, 7), false));
    EXPECT_TRUE(take_repaint_turn(marks, true, at(0, 7), true));
    EXPECT_FALSE(take_repaint_turn(marks, true, at(0, 7), false));
}

} // namespace
} // namespace kd
