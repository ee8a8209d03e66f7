#include "common/halt_gate.h"

namespace zelk {

void HaltGate::Halt() {
    MutexLock guard(mutex_);
    halted_ = true;
}

void HaltGate::Open() {
    {
        MutexLock guard(mutex_);
        halted_ = false;
    }
    changed_.NotifyAll();
}

bool HaltGate::IsHalted() const {
    MutexLock guard(mutex_);
    return halted_;
}

bool HaltGate::Pass() {
    MutexLock guard(mutex_);
    if (shutDown_) {
        return false;
    }
    if (!halted_) {
        return true;
    }
    ++waiting_;
    while (halted_ && !shutDown_) {
        changed_.Wait(mutex_);
    }
    --waiting_;
    return !shutDown_;
}

void HaltGate::Shutdown() {
    {
        MutexLock guard(mutex_);
        shutDown_ = true;
    }
    changed_.NotifyAll();
}

int HaltGate::Waiting() const {
    MutexLock guard(mutex_);
    return waiting_;
}

}  // namespace zelk
