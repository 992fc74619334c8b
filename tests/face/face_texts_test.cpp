#include "face/face_texts.hpp"

#include "scoped_zone.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kd {
namespace {

struct TextsCase {
    const char* name;
    std::int64_t epoch; // UTC
    TimeFormat format;
    bool seconds;
    bool short_month;
    std::optional<std::int32_t> timezone;
    std::optional<std::string> label;
    const char* time;
    const char* weekday;
    const char* month;
    const char* day;
    const char* suffix;
};

class FaceTextsTable : public ::testing::TestWithParam<TextsCase> {};

// Every case runs at a fixed offset, so the machine's zone plays no part.
TEST_P(FaceTextsTable, FormatsTheInstant)
{
    const TextsCase& c = GetParam();
    Settings settings;
    settings.format = c.format;
    settings.seconds = c.seconds;
    settings.short_month = c.short_month;
    settings.timezone = c.timezone;
    settings.label = c.label;
    const FaceTexts texts = face_texts_at(settings, Instant{c.epoch, 0});
    EXPECT_EQ(texts.time, c.time);
    EXPECT_EQ(texts.weekday, c.weekday);
    EXPECT_EQ(texts.month, c.month);
    EXPECT_EQ(texts.day, c.day);
    EXPECT_EQ(texts.suffix, c.suffix);
}

constexpr auto H24 = TimeFormat::Hours24;
constexpr auto H12 = TimeFormat::Hours12;
const std::optional<std::string> NO_LABEL;

INSTANTIATE_TEST_SUITE_P(
    Instants, FaceTextsTable,
    ::testing::Values(TextsCase{"evening_24h", 1796763907, H24, false, false, 0, NO_LABEL, "21:05",
                                "TUESDAY", "DECEMBER", "8", " (+0)"},
                      TextsCase{"evening_24h_seconds", 1796763907, H24, true, false, 0, NO_LABEL,
                                "21:05:07", "TUESDAY", "DECEMBER", "8", " (+0)"},
                      TextsCase{"evening_12h_seconds", 1796763907, H12, true, true, 0, NO_LABEL,
                                "09:05:07 PM", "TUESDAY", "DEC", "8", " (+0)"},
                      TextsCase{"midnight_12h", 1767225600, H12, false, false, 0, NO_LABEL,
                                "12:00 AM", "THURSDAY", "JANUARY", "1", " (+0)"},
                      TextsCase{"midnight_24h", 1767225600, H24, false, false, 0, NO_LABEL, "00:00",
                                "THURSDAY", "JANUARY", "1", " (+0)"},
                      TextsCase{"half_past_midnight_12h", 1767227400, H12, false, false, 0,
                                NO_LABEL, "12:30 AM", "THURSDAY", "JANUARY", "1", " (+0)"},
                      TextsCase{"noon_12h", 1767268800, H12, false, false, 0, NO_LABEL, "12:00 PM",
                                "THURSDAY", "JANUARY", "1", " (+0)"},
                      TextsCase{"one_pm_12h", 1767272400, H12, false, false, 0, NO_LABEL,
                                "01:00 PM", "THURSDAY", "JANUARY", "1", " (+0)"},
                      // +18 h from Sunday 07:00 UTC is Monday 01:00.
                      TextsCase{"plus_18_crosses_into_monday", 1796540400, H24, false, false, 64800,
                                NO_LABEL, "01:00", "MONDAY", "DECEMBER", "7", " (+18)"},
                      // -18 h from 1 March 17:00 UTC is the last day of February, 23:00.
                      TextsCase{"minus_18_crosses_into_february", 1772384400, H24, false, true,
                                -64800, NO_LABEL, "23:00", "SATURDAY", "FEB", "28", " (-18)"},
                      TextsCase{"half_hour_offset", 1796763907, H24, false, false, 19800, NO_LABEL,
                                "02:35", "WEDNESDAY", "DECEMBER", "9", " (+5:30)"},
                      TextsCase{"label_overrides_offset", 1796763907, H24, false, false, 32400,
                                "Tokyo", "06:05", "WEDNESDAY", "DECEMBER", "9", " (Tokyo)"},
                      TextsCase{"label_in_parentheses_kept", 1796763907, H24, false, false, 0,
                                "(Home)", "21:05", "TUESDAY", "DECEMBER", "8", " (Home)"},
                      TextsCase{"leap_day", 1709251199, H24, true, true, 0, NO_LABEL, "23:59:59",
                                "THURSDAY", "FEB", "29", " (+0)"},
                      TextsCase{"may_short", 1778846400, H24, false, true, 0, NO_LABEL, "12:00",
                                "FRIDAY", "MAY", "15", " (+0)"},
                      TextsCase{"september_short", 1788220800, H24, false, true, 0, NO_LABEL,
                                "00:00", "TUESDAY", "SEP", "1", " (+0)"}),
    [](const ::testing::TestParamInfo<TextsCase>& test_case) {
        return std::string(test_case.param.name);
    });

using test::ScopedZone;

TEST(FaceTextsLocal, FollowsDaylightSavingOfTheZone)
{
    ScopedZone zone("America/New_York");
    Settings settings;
    settings.seconds = true;
    // The spring-forward second of 2026: 01:59:59 EST is followed by 03:00:00 EDT.
    EXPECT_EQ(face_texts_at(settings, Instant{1772953199, 0}).time, "01:59:59");
    EXPECT_EQ(face_texts_at(settings, Instant{1772953200, 0}).time, "03:00:00");
    const FaceTexts summer = face_texts_at(settings, Instant{1783180800, 0});
    EXPECT_EQ(summer.time, "12:00:00");
    EXPECT_EQ(summer.weekday, "SATURDAY");
    EXPECT_EQ(summer.month, "JULY");
    EXPECT_EQ(summer.day, "4");
    EXPECT_FALSE(summer.suffix.has_value());
}

TEST(FaceTextsLocal, ChangedZoneIsPickedUpWithoutRestart)
{
    Settings settings;
    {
        ScopedZone zone("UTC0");
        EXPECT_EQ(face_texts_at(settings, Instant{1796763907, 0}).time, "21:05");
    }
    ScopedZone zone("Asia/Kolkata");
    const FaceTexts texts = face_texts_at(settings, Instant{1796763907, 0});
    EXPECT_EQ(texts.time, "02:35");
    EXPECT_EQ(texts.weekday, "WEDNESDAY");
    EXPECT_EQ(texts.day, "9");
}

TEST(FaceTextsLocal, FixedOffsetIgnoresTheZone)
{
    ScopedZone zone("America/New_York");
    Settings settings;
    settings.timezone = 4 * 3600;
    EXPECT_EQ(face_texts_at(settings, Instant{1783180800, 0}).time, "20:00");
}

TEST(FaceTexts, ReadsTheClockOnce)
{
    Settings settings;
    settings.timezone = 0;
    int readings = 0;
    const FaceTexts texts = face_texts(settings, [&] {
        ++readings;
        return Instant{1796763907, 999999999};
    });
    EXPECT_EQ(readings, 1);
    EXPECT_EQ(texts.time, "21:05");
}

TEST(FaceTexts, UnrepresentableInstantStillGivesTexts)
{
    Settings settings;
    settings.timezone = 64800;
    const FaceTexts texts = face_texts_at(settings, Instant{INT64_MAX, 0});
    EXPECT_EQ(texts.time, "00:00");
    EXPECT_EQ(texts.weekday, "THURSDAY");
}

} // namespace
} // namespace kd
