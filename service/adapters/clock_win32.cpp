// The real sleeper and clock of Windows: Sleep, the tick count and the system locale's time
// and date formats.
#include <windows.h>

#include <cstring>

#include "service/adapters/clock.h"

namespace zelk {
namespace {

// Formats into a local buffer first so that a failure or a text too long for the caller's
// buffer leaves that buffer untouched.
template <typename Format>
bool FormatInto(char* buffer, std::size_t size, Format format) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    char text[256];
    const int length = format(text, static_cast<int>(sizeof text));
    if (length <= 0 || static_cast<std::size_t>(length) > size) {
        return false;
    }
    // The length counts the terminator.
    std::memcpy(buffer, text, static_cast<std::size_t>(length));
    buffer[length - 1] = '\0';
    return true;
}

class WindowsSleeper final : public Sleeper {
  public:
    void SleepMs(std::uint32_t milliseconds) override { Sleep(milliseconds); }
    bool SleepUnless(std::uint32_t milliseconds, StopSignal& stop) override {
        return !stop.WaitFor(milliseconds);
    }
};

class WindowsClock final : public Clock {
  public:
    std::uint64_t NowMs() override { return GetTickCount64(); }
    bool FormatTime(char* buffer, std::size_t size) override {
        return FormatInto(buffer, size, [](char* text, int capacity) {
            return GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, TIME_NOSECONDS, nullptr, nullptr, text,
                                  capacity);
        });
    }
    bool FormatDate(char* buffer, std::size_t size) override {
        return FormatInto(buffer, size, [](char* text, int capacity) {
            return GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, text,
                                  capacity);
        });
    }
    bool LocalMsOfDay(std::uint64_t afterMs, std::uint32_t& msOfDay) override {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER at;
        at.LowPart = now.dwLowDateTime;
        at.HighPart = now.dwHighDateTime;
        at.QuadPart += afterMs * 10000u;  // 100 ns units
        const FILETIME then = {at.LowPart, at.HighPart};
        SYSTEMTIME utc, local;
        // The time zone's rules for that date, daylight saving included.
        if (!FileTimeToSystemTime(&then, &utc) ||
            !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
            return false;
        }
        msOfDay = ((static_cast<std::uint32_t>(local.wHour) * 60u + local.wMinute) * 60u +
                   local.wSecond) *
                      1000u +
                  local.wMilliseconds;
        return msOfDay < kMsPerDay;
    }
};

}  // namespace

Sleeper& SystemSleeper() {
    static WindowsSleeper sleeper;
    return sleeper;
}

Clock& SystemClock() {
    static WindowsClock clock;
    return clock;
}

}  // namespace zelk
