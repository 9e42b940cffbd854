// The time texts: month first, twenty-four hours, the offset in force now.

#include "monitor/TimeText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

// ---- Time texts --------------------------------------------------------------------------

// The FileTime of a local wall-clock time, with the offset in force now.
platform::FileTime LocalFileTime(int year, int month, int day, int hour, int minute, int second)
{
    tm broken{};
    broken.tm_year = year - 1900;
    broken.tm_mon = month - 1;
    broken.tm_mday = day;
    broken.tm_hour = hour;
    broken.tm_min = minute;
    broken.tm_sec = second;
    const std::int64_t utc = timegm(&broken) - platform::CurrentUtcOffset();
    return platform::kUnixEpochAsFileTime + static_cast<platform::FileTime>(utc) * 10'000'000;
}

TEST(TimeTexts, MonthFirstAndTwentyFourHours)
{
    const platform::FileTime morning = LocalFileTime(2024, 12, 6, 9, 5, 3) + 4'999'999;
    EXPECT_EQ(FormatFileDateTime(morning), "12/06/2024 09:05:03");
    EXPECT_EQ(FormatFileDateTime(LocalFileTime(2024, 12, 6, 21, 5, 3)), "12/06/2024 21:05:03");
    EXPECT_EQ(FormatFileDateTime(LocalFileTime(1999, 1, 31, 0, 0, 0)), "01/31/1999 00:00:00");
}

TEST(TimeTexts, ZeroTimeJoinsToOneBlank) { EXPECT_EQ(FormatFileDateTime(0), " "); }

TEST(TimeTexts, TimeWithoutLocalTimeIsOneBlank) { EXPECT_EQ(FormatFileDateTime(~platform::FileTime{0}), " "); }

// Both sides of a daylight-saving change show with the offset in force now, so noon UTC in
// January and in July read as the same local hour.
TEST(TimeTexts, OffsetInForceNowAppliesAcrossDaylightSaving)
{
    if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/Berlin"))
        GTEST_SKIP() << "no time zone data for Europe/Berlin";
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();

    const long offset = platform::CurrentUtcOffset();
    auto noonUtc = [](int month) {
        tm broken{};
        broken.tm_year = 2023 - 1900;
        broken.tm_mon = month - 1;
        broken.tm_mday = 15;
        broken.tm_hour = 12;
        return platform::kUnixEpochAsFileTime +
               static_cast<platform::FileTime>(timegm(&broken)) * 10'000'000;
    };
    auto timeOfDay = [](platform::FileTime time) { // what follows the date and its blank
        const std::string text = FormatFileDateTime(time);
        return text.size() > 11 ? text.substr(11) : text;
    };
    const std::string winter = timeOfDay(noonUtc(1));
    const std::string summer = timeOfDay(noonUtc(7));

    if (saved)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    EXPECT_TRUE(offset == 3600 || offset == 7200) << offset;
    const std::string expected = offset == 3600 ? "13:00:00" : "14:00:00";
    EXPECT_EQ(winter, expected);
    EXPECT_EQ(summer, expected);
}

} // namespace
