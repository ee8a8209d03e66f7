// Time as the service sees it: sleeps, a monotonic clock and the local time and date texts.
// Tests replace these so that scrolling, clock ticks and handshakes run without real waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace zelk {

// A flag that ends waits on it at once when another thread sets it (a thread's quit). It stays
// set.
class StopSignal {
  public:
    void Set() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            set_ = true;
        }
        changed_.notify_all();
    }
    bool IsSet() const {
        std::lock_guard<std::mutex> guard(lock_);
        return set_;
    }
    // Waits up to `milliseconds` of real time; true when the flag is (or gets) set.
    bool WaitFor(std::uint32_t milliseconds) {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [this] { return set_; });
    }

  private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool set_ = false;
};

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
};

// The real sleeper and clock of this platform.
Sleeper& SystemSleeper();
Clock& SystemClock();

}  // namespace zelk
