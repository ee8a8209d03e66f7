#include "service/core/clock_thread.h"

#include <algorithm>

namespace zelk {

ClockThread::ClockThread(ServiceShared& shared, Clock& clock, Sleeper& sleeper, HaltGate& gate)
    : shared_(shared), clock_(clock), sleeper_(sleeper), gate_(gate) {}

ClockThread::~ClockThread() {
    Quit();
    Join();
}

void ClockThread::Start() {
    thread_ = std::thread([this] { Routine(); });
}

void ClockThread::Quit() {
    quit_.store(true);
}

void ClockThread::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ClockThread::Tick(ServiceShared& shared, Clock& clock) {
    shared.Write([&clock](MediaState& state) {
        // A failed format leaves the previous text.
        clock.FormatTime(state.timeText, sizeof state.timeText);
        clock.FormatDate(state.dateText, sizeof state.dateText);
    });
}

void ClockThread::Routine() {
    for (;;) {
        if (!gate_.Pass() || quit_.load()) {
            return;
        }
        Tick(shared_, clock_);
        ticks_.fetch_add(1);
        if (!SleepPeriod()) {
            return;
        }
    }
}

bool ClockThread::SleepPeriod() {
    const std::uint64_t deadline = clock_.NowMs() + kClockPeriodMs;
    for (;;) {
        if (quit_.load()) {
            return false;
        }
        const std::uint64_t now = clock_.NowMs();
        if (now >= deadline) {
            return true;
        }
        sleeper_.SleepMs(
            static_cast<std::uint32_t>(std::min<std::uint64_t>(deadline - now, kClockSleepStepMs)));
    }
}

}  // namespace zelk
