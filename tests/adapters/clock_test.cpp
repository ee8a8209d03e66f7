#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "service/adapters/clock.h"
#include "service/adapters/clock_format.h"

namespace zelk {
namespace {

TEST(TimeFormatWithoutSeconds, DropsTheSecondsAndTheirSeparator) {
    const std::pair<const char*, const char*> cases[] = {{"%T", "%H:%M"},
                                                         {"%r", "%I:%M %p"},
                                                         {"%p %I.%M.%S", "%p %I.%M"},
                                                         {"%H:%M:%OS %Z", "%H:%M %Z"},
                                                         {"%S-%M", "%M"},
                                                         {"%H%%%M", "%H%%%M"},
                                                         {"", ""},
                                                         {"%H:%M%", "%H:%M%"}};
    for (const auto& [format, expected] : cases) {
        EXPECT_EQ(TimeFormatWithoutSeconds(format), expected) << format;
    }
}

std::string NowWith(const char* format) {
    const std::time_t now = std::time(nullptr);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, std::localtime(&now)));
}

// The locale decides the layout, but the current minute and day of the month are in there.
TEST(SystemClock, TimeAndDateCarryTheCurrentMinuteAndDay) {
    Clock& clock = SystemClock();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string minute = NowWith("%M");
        char time[256];
        char date[256];
        ASSERT_TRUE(clock.FormatTime(time, sizeof time));
        ASSERT_TRUE(clock.FormatDate(date, sizeof date));
        if (NowWith("%M") != minute) {
            continue;  // the minute turned over in between
        }
        EXPECT_NE(std::string(time).find(minute), std::string::npos) << time;
        const std::string day = NowWith("%d");
        EXPECT_NE(std::string(date).find(day.substr(day[0] == '0')), std::string::npos) << date;
        EXPECT_LT(std::strlen(time), 12u) << time;  // no seconds
        return;
    }
    FAIL() << "the minute changed twice";
}

TEST(SystemClock, LocalTimeOfDayIsTheWallClocksNowAndAhead) {
    Clock& clock = SystemClock();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string hourMinute = NowWith("%H:%M");
        std::uint32_t now = 0, ahead = 0;
        ASSERT_TRUE(clock.LocalMsOfDay(0, now));
        ASSERT_TRUE(clock.LocalMsOfDay(90u * 60u * 1000u, ahead));
        if (NowWith("%H:%M") != hourMinute) {
            continue;  // the minute turned over in between
        }
        char expected[8];
        std::snprintf(expected, sizeof expected, "%02u:%02u", now / 3600000u, now / 60000u % 60u);
        EXPECT_EQ(hourMinute, expected);
        ASSERT_LT(ahead, kMsPerDay);
        // An hour and a half later on the wall clock, give or take a daylight saving hour.
        const std::uint32_t later = (ahead + kMsPerDay - now) % kMsPerDay;
        EXPECT_TRUE(later / 1000 == 90 * 60 || later / 1000 == 30 * 60 || later / 1000 == 150 * 60)
            << later;
        return;
    }
    FAIL() << "the minute changed twice";
}

TEST(SystemClock, TooSmallBufferFailsAndIsLeftAlone) {
    Clock& clock = SystemClock();
    char small[3] = {'x', 'y', 'z'};
    EXPECT_FALSE(clock.FormatTime(small, sizeof small));
    EXPECT_FALSE(clock.FormatDate(small, sizeof small));
    EXPECT_EQ(std::string(small, 3), "xyz");
    EXPECT_FALSE(clock.FormatTime(nullptr, 16));
    EXPECT_FALSE(clock.FormatTime(small, 0));
}

TEST(SystemClock, NeverGoesBackAndFollowsTheSleeper) {
    Clock& clock = SystemClock();
    const std::uint64_t start = clock.NowMs();
    std::uint64_t last = start;
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t now = clock.NowMs();
        ASSERT_GE(now, last);
        last = now;
    }
    // The one real sleep here: the platform sleeper itself is under test. Windows' tick count
    // moves in steps of about 16 ms.
    SystemSleeper().SleepMs(40);
    EXPECT_GE(clock.NowMs() - start, 20u);
}

}  // namespace
}  // namespace zelk
