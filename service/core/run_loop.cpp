#include "service/core/run_loop.h"
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

bool WakeEvent::HasIdleWaiter() const {
    MutexLock guard(mutex_);
    return !set_ && waiters_ > 0;
}

MediaState ServiceShared::Snapshot() {
    MutexLock guard(stateLock);
    return state;
}

std::uint64_t RunLoop(ServiceShared& shared, const std::function<void(const MediaState&)>& redraw) {
    std::uint64_t redraws = 0;
    while (shared.stop.load() == 0) {
        // In standby too the loop blocks until woken: a stop sets the event after the flag.
        shared.wake.Wait();
        shared.loopPasses.fetch_add(1);
        // Reset before the redraw: a change made while it runs sets the event again and so
        // causes one more redraw.
        shared.wake.Reset();
        // Nothing is drawn over the standby screen.
        if (shared.stop.load() != 0 || shared.standby.load() != 0) {
            continue;
        }
        const MediaState copy = shared.Snapshot();
        redraw(copy);
        ++redraws;
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
