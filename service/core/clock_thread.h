// The clock thread: writes the local time (without seconds) and the short date into the media
// state every 10 seconds, so the panel is redrawn at least that often.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/worker_thread.h"
#include "service/adapters/clock.h"
#include "service/core/run_loop.h"

namespace zelk {

inline constexpr std::uint32_t kClockPeriodMs = 10000;

class ClockThread : public Worker {
  public:
    // `gate` is passed before each tick, outside the state lock; Stop shuts it down.
    ClockThread(ServiceShared& shared, Clock& clock, Sleeper& sleeper, HaltGate& gate);
    ClockThread(const ClockThread&) = delete;
    ClockThread& operator=(const ClockThread&) = delete;

    void Start() override { thread_.Start(); }
    // Ends the thread's sleep or its wait at the gate at once, and joins it.
    void Stop() override { thread_.Stop(); }

    std::uint64_t Ticks() const { return ticks_.load(); }

    // One tick: time and date into the state by the writer protocol.
    static void Tick(ServiceShared& shared, Clock& clock);

  private:
    void Routine(StopSignal& stop);
    // Sleeps one period in one wait; false when told to stop meanwhile.
    bool SleepPeriod(StopSignal& stop);

    ServiceShared& shared_;
    Clock& clock_;
    Sleeper& sleeper_;
    HaltGate& gate_;
    std::atomic<std::uint64_t> ticks_{0};
    // Last: stopped (by its destructor) before the fields its thread uses go.
    WorkerThread thread_;
};

}  // namespace zelk
