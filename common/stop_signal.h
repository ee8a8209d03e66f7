// A flag that ends waits on it at once when another thread sets it (a thread's quit).
#pragma once

#include <cstdint>

#include "common/mutex.h"
#include "common/thread_annotations.h"

namespace zelk {

// Once set it stays set.
class StopSignal {
  public:
    void Set() EXCLUDES(lock_) {
        {
            MutexLock guard(lock_);
            set_ = true;
        }
        changed_.NotifyAll();
    }
    bool IsSet() const EXCLUDES(lock_) {
        MutexLock guard(lock_);
        return set_;
    }
    // Waits up to `milliseconds` of real time; true when the flag is (or gets) set.
    bool WaitFor(std::uint32_t milliseconds) EXCLUDES(lock_) {
        MutexLock guard(lock_);
        // One deadline across spurious wake-ups.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!set_) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return false;
            }
            changed_.WaitFor(
                lock_, static_cast<std::uint32_t>(
                           std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
        }
        return true;
    }

  private:
    mutable Mutex lock_;
    CondVar changed_;
    bool set_ GUARDED_BY(lock_) = false;
};

}  // namespace zelk
