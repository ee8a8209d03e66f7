// Time that moves only when the test moves it, and a real-time wait for the service's threads.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/fake_clock.h"

namespace zelk::test {

// A sleeper whose sleeps end only when the test has granted that much time on the fake clock
// (or has released every sleeper for good, as a test does before it ends).
class GatedSleeper : public Sleeper {
  public:
    explicit GatedSleeper(FakeClock& clock) : clock_(clock) {}

    void SleepMs(std::uint32_t milliseconds) override { GatedSleep(milliseconds, nullptr); }
    // Ends early, without moving the clock, once `stop` is set (checked every millisecond of
    // real time, as the signal cannot wake this sleeper's own wait).
    bool SleepUnless(std::uint32_t milliseconds, StopSignal& stop) override {
        return GatedSleep(milliseconds, &stop);
    }

    // Every sleep asked for so far, in order.
    std::vector<std::uint32_t> Asked() {
        std::lock_guard<std::mutex> guard(lock_);
        return requested_;
    }

    // Lets the clock move `milliseconds` further.
    void Grant(std::uint64_t milliseconds) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            granted_ = std::max<std::uint64_t>(granted_, clock_.NowMs()) + milliseconds;
        }
        changed_.notify_all();
    }
    void ReleaseAll() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            released_ = true;
        }
        changed_.notify_all();
    }
    // Whether a sleep of exactly `milliseconds` was asked for.
    bool Requested(std::uint32_t milliseconds) {
        std::lock_guard<std::mutex> guard(lock_);
        return std::find(requested_.begin(), requested_.end(), milliseconds) != requested_.end();
    }
    // Waits (real time) until at least `count` threads sleep here.
    bool WaitForSleepers(int count) {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return sleeping_ >= count; });
    }

  private:
    bool GatedSleep(std::uint32_t milliseconds, StopSignal* stop) {
        std::unique_lock<std::mutex> lock(lock_);
        requested_.push_back(milliseconds);
        const std::uint64_t until = clock_.NowMs() + milliseconds;
        ++sleeping_;
        changed_.notify_all();
        const auto done = [&] { return released_ || granted_ >= until; };
        const auto stopped = [&] { return stop != nullptr && stop->IsSet(); };
        while (!done() && !stopped()) {
            changed_.wait_for(lock, std::chrono::milliseconds(stop != nullptr ? 1 : 1000));
        }
        --sleeping_;
        if (stopped()) return false;
        if (!released_) clock_.SetNowMs(until);
        return true;
    }

    FakeClock& clock_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::uint64_t granted_ = 0;
    std::vector<std::uint32_t> requested_;
    int sleeping_ = 0;
    bool released_ = false;
};

// Polls `condition` (real time) until it holds or `limit` passes.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace zelk::test
