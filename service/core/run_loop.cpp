#include "service/core/run_loop.h"

#include <chrono>

namespace zelk {

void WakeEvent::Set() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        set_ = true;
    }
    changed_.notify_all();
}

void WakeEvent::Reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    set_ = false;
}

bool WakeEvent::IsSet() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return set_;
}

void WakeEvent::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
}

bool WakeEvent::WaitFor(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
}

void HaltGate::Halt() {
    std::lock_guard<std::mutex> guard(mutex_);
    halted_ = true;
}

void HaltGate::Open() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        halted_ = false;
    }
    changed_.notify_all();
}

bool HaltGate::IsHalted() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return halted_;
}

bool HaltGate::Pass() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (shutDown_) {
        return false;
    }
    if (!halted_) {
        return true;
    }
    ++waiting_;
    changed_.wait(lock, [this] { return !halted_ || shutDown_; });
    --waiting_;
    return !shutDown_;
}

void HaltGate::Shutdown() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shutDown_ = true;
    }
    changed_.notify_all();
}

int HaltGate::Waiting() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return waiting_;
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

}  // namespace zelk
