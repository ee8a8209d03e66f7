#include "service/core/run_loop.h"

#include <algorithm>
namespace zelk {

void WakeEvent::Set() {
    {
        MutexLock guard(mutex_);
        set_ = true;
    }
    changed_.NotifyAll();
}

void WakeEvent::Reset() {
    MutexLock guard(mutex_);
    set_ = false;
}

bool WakeEvent::IsSet() const {
    MutexLock guard(mutex_);
    return set_;
}

void WakeEvent::Wait() {
    MutexLock guard(mutex_);
    ++waiters_;
    while (!set_) {
        changed_.Wait(mutex_);
    }
    --waiters_;
}

bool WakeEvent::WaitFor(std::uint32_t milliseconds) {
    MutexLock guard(mutex_);
    if (set_) return true;
    ++waiters_;
    changed_.WaitFor(mutex_, milliseconds);
    --waiters_;
    return set_;
}

bool WakeEvent::HasIdleWaiter() const {
    MutexLock guard(mutex_);
    return !set_ && waiters_ > 0;
}

MediaState ServiceShared::Snapshot() {
    MutexLock guard(stateLock);
    return state;
}

namespace {

// The earliest time the sources ask for, or nothing.
std::optional<std::uint64_t> EarliestDeadline(const LoopDeadlines& deadlines) {
    std::optional<std::uint64_t> earliest;
    if (deadlines.clock == nullptr) return earliest;
    for (const DeadlineSource& source : deadlines.sources) {
        if (const auto next = source.next()) {
            earliest = earliest ? std::min(*earliest, *next) : *next;
        }
    }
    return earliest;
}

// Waits for the wake event, at most until `deadline`; true when the event was set.
bool WaitForWake(ServiceShared& shared, Clock* clock, std::optional<std::uint64_t> deadline) {
    if (!deadline) {
        shared.wake.Wait();
        return true;
    }
    const std::uint64_t now = clock->NowMs();
    if (*deadline <= now) return shared.wake.IsSet();
    // Longer waits end early and simply go round again.
    constexpr std::uint64_t kLongestWaitMs = 24u * 60u * 60u * 1000u;
    return shared.wake.WaitFor(
        static_cast<std::uint32_t>(std::min<std::uint64_t>(*deadline - now, kLongestWaitMs)));
}

}  // namespace

std::uint64_t RunLoop(ServiceShared& shared, const std::function<void(const MediaState&)>& redraw,
                      const LoopDeadlines& deadlines) {
    std::uint64_t redraws = 0;
    while (shared.stop.load() == 0) {
        // In standby too the loop blocks until woken: a stop sets the event after the flag.
        const bool woken = WaitForWake(shared, deadlines.clock, EarliestDeadline(deadlines));
        shared.loopPasses.fetch_add(1);
        if (woken) {
            // Reset before the redraw: a change made while it runs sets the event again and so
            // causes one more redraw.
            shared.wake.Reset();
            // Nothing is drawn over the standby screen.
            if (shared.stop.load() == 0 && shared.standby.load() == 0) {
                const MediaState copy = shared.Snapshot();
                redraw(copy);
                ++redraws;
            }
        }
        if (shared.stop.load() != 0 || deadlines.clock == nullptr) {
            continue;
        }
        const std::uint64_t now = deadlines.clock->NowMs();
        for (const DeadlineSource& source : deadlines.sources) {
            const auto next = source.next();
            if (next && *next <= now) {
                source.due();
            }
        }
    }
    return redraws;
}

bool RunLoopBeat::Alive() {
    const std::uint64_t passes = shared_.loopPasses.load();
    const bool wentRound = passes != seen_;
    seen_ = passes;
    return wentRound || shared_.wake.HasIdleWaiter();
}

}  // namespace zelk
