// The clock thread: writes the local time (without seconds) and the short date into the media
// state every 10 seconds, so the panel is redrawn at least that often.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "service/adapters/clock.h"
#include "service/core/run_loop.h"

namespace zelk {

inline constexpr std::uint32_t kClockPeriodMs = 10000;

class ClockThread {
  public:
    // `gate` is passed before each tick, outside the state lock.
    ClockThread(ServiceShared& shared, Clock& clock, Sleeper& sleeper, HaltGate& gate);
    ~ClockThread();  // quits and joins
    ClockThread(const ClockThread&) = delete;
    ClockThread& operator=(const ClockThread&) = delete;

    void Start();
    // Ends the thread's sleep at once (a halted thread also needs its gate shut down).
    void Quit();
    void Join();

    std::uint64_t Ticks() const { return ticks_.load(); }

    // One tick: time and date into the state by the writer protocol.
    static void Tick(ServiceShared& shared, Clock& clock);

  private:
    void Routine();
    // Sleeps one period in one wait; false when told to quit meanwhile.
    bool SleepPeriod();

    ServiceShared& shared_;
    Clock& clock_;
    Sleeper& sleeper_;
    HaltGate& gate_;
    StopSignal quit_;
    std::atomic<std::uint64_t> ticks_{0};
    std::thread thread_;
};

}  // namespace zelk
