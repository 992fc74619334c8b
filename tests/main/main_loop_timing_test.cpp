// The loop's timing rules, without a display: when a pass repaints and how long it sleeps.
#include "main/main_loop.hpp"

#include <gtest/gtest.h>

#include <ostream>

namespace kd {
namespace {

struct SleepCase {
    bool seconds_mode;
    int second;
    int millisecond;
    int expected;
};

void PrintTo(const SleepCase& c, std::ostream* out)
{
    *out << (c.seconds_mode ? "seconds " : "minutes ") << c.second << "s+" << c.millisecond << "ms";
}

class PassSleep : public ::testing::TestWithParam<SleepCase> {};

TEST_P(PassSleep, WakesBeforeTheNextBoundary)
{
    const auto& c = GetParam();
    EXPECT_EQ(pass_sleep(c.seconds_mode, c.second, c.millisecond).count(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PassSleep,
    ::testing::Values(
        // With seconds: 50 ms before the boundary, then every 10 ms.
        SleepCase{true, 0, 0, 950}, SleepCase{true, 12, 940, 10}, SleepCase{true, 12, 941, 10},
        SleepCase{true, 59, 999, 10}, SleepCase{true, 30, 500, 450},
        // Without: a second at a time, 100 ms steps in the minute's last second.
        SleepCase{false, 0, 0, 1000}, SleepCase{false, 30, 0, 1000},
        SleepCase{false, 58, 850, 1000}, SleepCase{false, 58, 950, 950},
        SleepCase{false, 59, 0, 900}, SleepCase{false, 59, 850, 100},
        SleepCase{false, 59, 899, 100}, SleepCase{false, 59, 999, 100}));

std::tm at(int minute, int second)
{
    std::tm local{};
    local.tm_min = minute;
    local.tm_sec = second;
    return local;
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

TEST(RepaintTurn, ForceRepaintsAndMovesTheMark)
{
    RepaintMarks marks;
    ASSERT_TRUE(take_repaint_turn(marks, true, at(0, 7), false));
    EXPECT_TRUE(take_repaint_turn(marks, true, at(0, 7), true));
    EXPECT_FALSE(take_repaint_turn(marks, true, at(0, 7), false));
}

} // namespace
} // namespace kd
