// A gate where a worker thread stops while it is halted.
#pragma once

#include "common/mutex.h"
#include "common/thread_annotations.h"

namespace zelk {

// Where a worker thread stops while it is halted (standby, shutdown, stop). A thread passes the
// gate holding none of its other locks, so a halted thread blocks nobody. Halting twice is the
// same as halting once; opening lets every waiting thread go on.
class HaltGate {
  public:
    void Halt() EXCLUDES(mutex_);
    void Open() EXCLUDES(mutex_);
    bool IsHalted() const EXCLUDES(mutex_);
    // Returns true at once while open; while halted, blocks until opened (true) or shut down
    // (false).
    bool Pass() EXCLUDES(mutex_);
    // For good: every waiting and later Pass returns false.
    void Shutdown() EXCLUDES(mutex_);
    // Threads blocked in Pass right now.
    int Waiting() const EXCLUDES(mutex_);

  private:
    mutable Mutex mutex_;
    CondVar changed_;
    bool halted_ GUARDED_BY(mutex_) = false;
    bool shutDown_ GUARDED_BY(mutex_) = false;
    int waiting_ GUARDED_BY(mutex_) = 0;
};

}  // namespace zelk
