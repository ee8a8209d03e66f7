#include "common/halt_gate.h"

namespace zelk {

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

}  // namespace zelk
