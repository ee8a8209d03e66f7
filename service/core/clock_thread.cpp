#include "service/core/clock_thread.h"

namespace zelk {

ClockThread::ClockThread(ServiceShared& shared, Clock& clock, Sleeper& sleeper, HaltGate& gate)
    : shared_(shared),
      clock_(clock),
      sleeper_(sleeper),
      gate_(gate),
      thread_([this](StopSignal& stop) { Routine(stop); }, [this] { gate_.Shutdown(); }) {}

void ClockThread::Tick(ServiceShared& shared, Clock& clock) {
    shared.Write([&clock](MediaState& state) {
        // A failed format leaves the previous text.
        clock.FormatTime(state.timeText, sizeof state.timeText);
        clock.FormatDate(state.dateText, sizeof state.dateText);
    });
}

void ClockThread::Routine(StopSignal& stop) {
    for (;;) {
        if (!gate_.Pass() || stop.IsSet()) {
            return;
        }
        Tick(shared_, clock_);
        ticks_.fetch_add(1);
        if (!SleepPeriod(stop)) {
            return;
        }
    }
}

bool ClockThread::SleepPeriod(StopSignal& stop) {
    const std::uint64_t deadline = clock_.NowMs() + kClockPeriodMs;
    for (;;) {
        const std::uint64_t now = clock_.NowMs();
        if (now >= deadline) {
            return !stop.IsSet();
        }
        // Normally one wait; a sleep that ends early is followed by one for the rest.
        if (!sleeper_.SleepUnless(static_cast<std::uint32_t>(deadline - now), stop)) {
            return false;
        }
    }
}

}  // namespace zelk
