// The real sleeper and clock over the C++ library and the C library's locale.
#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "service/adapters/clock.h"
#include "service/adapters/clock_format.h"

namespace zelk {
namespace {

// The time formats of the locale the environment names (LANG, LC_TIME, LC_ALL), or of the
// C locale when that one is unknown.
struct TimeLocale {
    locale_t locale = static_cast<locale_t>(0);
    std::string timeFormat;
    std::string dateFormat;

    TimeLocale() {
        locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
        if (locale == static_cast<locale_t>(0)) {
            locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
        }
        const char* time =
            locale != static_cast<locale_t>(0) ? nl_langinfo_l(T_FMT, locale) : "%H:%M:%S";
        timeFormat = TimeFormatWithoutSeconds(time != nullptr && *time != '\0' ? time : "%H:%M");
        if (timeFormat.empty()) {
            timeFormat = "%H:%M";
        }
        dateFormat = "%x";
    }
    ~TimeLocale() {
        if (locale != static_cast<locale_t>(0)) {
            freelocale(locale);
        }
    }
    TimeLocale(const TimeLocale&) = delete;
    TimeLocale& operator=(const TimeLocale&) = delete;
};

const TimeLocale& TheTimeLocale() {
    static const TimeLocale instance;
    return instance;
}

bool FormatNow(const std::string& format, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) {
        return false;
    }
    char text[256];
    const TimeLocale& l = TheTimeLocale();
    const std::size_t length = l.locale != static_cast<locale_t>(0)
                                   ? strftime_l(text, sizeof text, format.c_str(), &local, l.locale)
                                   : strftime(text, sizeof text, format.c_str(), &local);
    if (length == 0 || length >= size) {
        return false;
    }
    std::memcpy(buffer, text, length + 1);
    return true;
}

class PosixSleeper final : public Sleeper {
  public:
    void SleepMs(std::uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    bool SleepUnless(std::uint32_t milliseconds, StopSignal& stop) override {
        return !stop.WaitFor(milliseconds);
    }
};

class PosixClock final : public Clock {
  public:
    std::uint64_t NowMs() override {
        const auto since = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    }
    bool FormatTime(char* buffer, std::size_t size) override {
        return FormatNow(TheTimeLocale().timeFormat, buffer, size);
    }
    bool FormatDate(char* buffer, std::size_t size) override {
        return FormatNow(TheTimeLocale().dateFormat, buffer, size);
    }
    bool LocalMsOfDay(std::uint64_t afterMs, std::uint32_t& msOfDay) override {
        struct timespec now;
        if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
            return false;
        }
        const std::uint64_t at = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<std::uint64_t>(now.tv_nsec / 1000000) + afterMs;
        const time_t seconds = static_cast<time_t>(at / 1000u);
        struct tm local;
        if (localtime_r(&seconds, &local) == nullptr) {
            return false;
        }
        const std::uint32_t second = static_cast<std::uint32_t>(
            (local.tm_hour * 60 + local.tm_min) * 60 + std::min(local.tm_sec, 59));
        msOfDay = second * 1000u + static_cast<std::uint32_t>(at % 1000u);
        return true;
    }
};

}  // namespace

Sleeper& SystemSleeper() {
    static PosixSleeper sleeper;
    return sleeper;
}

Clock& SystemClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace zelk
