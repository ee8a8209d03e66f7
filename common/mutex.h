// A plain (non-recursive) mutex, its scoped guard and its condition variable, annotated so that
// clang's thread-safety analysis can check the fields that name it in GUARDED_BY.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "common/thread_annotations.h"

namespace zelk {

class CAPABILITY("mutex") Mutex {
  public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
    // Documents (and tells the analysis) that the caller holds this mutex.
    void AssertHeld() const ASSERT_CAPABILITY(this) {}

  private:
    std::mutex mutex_;
};

class SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

  private:
    Mutex& mutex_;
};

// Waits for a change of fields guarded by a Mutex. The waiter holds the mutex; the wait gives
// it up while it sleeps and holds it again when it returns (also on a spurious wake-up, so the
// waiter checks its condition in a loop).
class CondVar {
  public:
    void Wait(Mutex& mutex) REQUIRES(mutex) { signal_.wait(mutex); }
    // As Wait, for at most `milliseconds` of real time; false when the time ran out.
    bool WaitFor(Mutex& mutex, std::uint32_t milliseconds) REQUIRES(mutex) {
        return signal_.wait_for(mutex, std::chrono::milliseconds(milliseconds)) ==
               std::cv_status::no_timeout;
    }
    // As Wait, until `deadline` at the latest; false when it has passed.
    bool WaitUntil(Mutex& mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex) {
        return signal_.wait_until(mutex, deadline) == std::cv_status::no_timeout;
    }
    void NotifyAll() { signal_.notify_all(); }

  private:
    std::condition_variable_any signal_;
};

}  // namespace zelk
