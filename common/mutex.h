// A plain (non-recursive) mutex and its scoped guard, annotated so that clang's thread-safety
// analysis can check the fields that name it in GUARDED_BY.
#pragma once

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

}  // namespace zelk
