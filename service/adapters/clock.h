// Time as the service sees it: sleeps, a monotonic clock and the local time and date texts.
// Tests replace these so that scrolling, clock ticks and handshakes run without real waiting.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/stop_signal.h"

namespace zelk {

class Sleeper {
  public:
    virtual ~Sleeper() = default;
    virtual void SleepMs(std::uint32_t milliseconds) = 0;
    // Sleeps `milliseconds` unless `stop` is set first; false when it was set, in which case the
    // sleep ends as soon as it is. A sleeper whose time is not real may check the flag before
    // and after its sleep only, as this one does.
    virtual bool SleepUnless(std::uint32_t milliseconds, StopSignal& stop) {
        if (stop.IsSet()) return false;
        SleepMs(milliseconds);
        return !stop.IsSet();
    }
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds from an arbitrary start, never going back.
    virtual std::uint64_t NowMs() = 0;
    // The local time without seconds and the short date, in the system locale's formats,
    // NUL-terminated within `size` bytes. False when formatting failed (the buffer is untouched).
    virtual bool FormatTime(char* buffer, std::size_t size) = 0;
    virtual bool FormatDate(char* buffer, std::size_t size) = 0;
    // The local wall-clock time `afterMs` milliseconds from now, as milliseconds since local
    // midnight (0 to 86 399 999), in the system's time zone with its daylight saving rules for
    // that moment. False when the local time is not known (then nothing may depend on it).
    virtual bool LocalMsOfDay(std::uint64_t afterMs, std::uint32_t& msOfDay) {
        (void)afterMs;
        (void)msOfDay;
        return false;
    }
};

inline constexpr std::uint32_t kMsPerDay = 24u * 60u * 60u * 1000u;

// The real sleeper and clock of this platform.
Sleeper& SystemSleeper();
Clock& SystemClock();

}  // namespace zelk
