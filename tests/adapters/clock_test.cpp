#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "service/adapters/clock.h"
#include "service/adapters/clock_format.h"
#include "service/adapters/fake_clock.h"

namespace zelk {
namespace {

TEST(TimeFormatWithoutSeconds, DropsTheSecondsAndTheirSeparator) {
    EXPECT_EQ(TimeFormatWithoutSeconds("%H:%M:%S"), "%H:%M");
    EXPECT_EQ(TimeFormatWithoutSeconds("%T"), "%H:%M");
    EXPECT_EQ(TimeFormatWithoutSeconds("%r"), "%I:%M %p");
    EXPECT_EQ(TimeFormatWithoutSeconds("%I:%M:%S %p"), "%I:%M %p");
    EXPECT_EQ(TimeFormatWithoutSeconds("%p %I.%M.%S"), "%p %I.%M");
    EXPECT_EQ(TimeFormatWithoutSeconds("%H:%M:%OS %Z"), "%H:%M %Z");
    EXPECT_EQ(TimeFormatWithoutSeconds("%S-%M"), "%M");
    EXPECT_EQ(TimeFormatWithoutSeconds("%H:%M"), "%H:%M");
    EXPECT_EQ(TimeFormatWithoutSeconds("%H%%%M"), "%H%%%M");
    EXPECT_EQ(TimeFormatWithoutSeconds(""), "");
    EXPECT_EQ(TimeFormatWithoutSeconds("%H:%M%"), "%H:%M%");
}

std::string NowWith(const char* format) {
    const std::time_t now = std::time(nullptr);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, format, std::localtime(&now));
    return std::string(text, n);
}

// The locale decides the layout, but the current minute and day of the month are in there.
TEST(SystemClock, TimeAndDateCarryTheCurrentMinuteAndDay) {
    Clock& clock = SystemClock();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string minuteBefore = NowWith("%M");
        char time[256];
        char date[256];
        ASSERT_TRUE(clock.FormatTime(time, sizeof time));
        ASSERT_TRUE(clock.FormatDate(date, sizeof date));
        if (NowWith("%M") != minuteBefore) {
            continue;  // the minute turned over in between
        }
        EXPECT_NE(std::string(time).find(minuteBefore), std::string::npos) << time;
        const std::string day = NowWith("%d");
        const std::string dayNoZero = day[0] == '0' ? day.substr(1) : day;
        EXPECT_NE(std::string(date).find(dayNoZero), std::string::npos) << date;
        // Without seconds: at most the hour, the minute, separators and a day-half marker.
        EXPECT_LT(std::strlen(time), 12u) << time;
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
    // The one real sleep here: the platform sleeper itself is under test.
    SystemSleeper().SleepMs(40);
    // Windows' tick count moves in steps of about 16 ms.
    EXPECT_GE(clock.NowMs() - start, 20u);
}

TEST(FakeSleeper, RecordsSleepsAdvancesItsClockAndRunsTheHook) {
    FakeClock clock;
    FakeSleeper sleeper(&clock);
    std::vector<std::uint64_t> seenAt;
    sleeper.SetHook([&](std::uint32_t) { seenAt.push_back(clock.NowMs()); });
    sleeper.SleepMs(10000);
    sleeper.SleepMs(250);
    EXPECT_EQ(sleeper.Sleeps(), (std::vector<std::uint32_t>{10000, 250}));
    EXPECT_EQ(sleeper.TotalMs(), 10250u);
    EXPECT_EQ(clock.NowMs(), 10250u);
    EXPECT_EQ(seenAt, (std::vector<std::uint64_t>{10000, 10250}));
    sleeper.Clear();
    EXPECT_EQ(sleeper.Count(), 0u);
    clock.SetNowMs(5);  // never backwards
    EXPECT_EQ(clock.NowMs(), 10250u);
}

}  // namespace
}  // namespace zelk
