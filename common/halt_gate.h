// A gate where a worker thread stops while it is halted.
#pragma once

#include <condition_variable>
#include <mutex>

namespace zelk {

// Where a worker thread stops while it is halted (standby, shutdown, stop). A thread passes the
// gate holding none of its other locks, so a halted thread blocks nobody. Halting twice is the
// same as halting once; opening lets every waiting thread go on.
class HaltGate {
  public:
    void Halt();
    void Open();
    bool IsHalted() const;
    // Returns true at once while open; while halted, blocks until opened (true) or shut down
    // (false).
    bool Pass();
    // For good: every waiting and later Pass returns false.
    void Shutdown();
    // Threads blocked in Pass right now.
    int Waiting() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // All three guarded by mutex_ (a std::mutex, for the condition variable).
    bool halted_ = false;
    bool shutDown_ = false;
    int waiting_ = 0;
};

}  // namespace zelk
