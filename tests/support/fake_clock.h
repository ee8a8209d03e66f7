// Test doubles for Clock and Sleeper: time that moves only when a test (or a sleep) moves it.
//
//   FakeClock clock;                  // NowMs() starts at 0; texts "12:00" and "01/01/2000"
//   FakeSleeper sleeper(&clock);      // each SleepMs(n) records n and advances the clock by n
//   sleeper.SetHook([&](std::uint32_t ms) { ... });  // runs after each sleep, on its thread
//   ... code under test calls sleeper.SleepMs(10000) ...
//   EXPECT_EQ(sleeper.Sleeps(), std::vector<std::uint32_t>{10000});
//
// A hook can stop a loop that sleeps forever (set its stop flag), count passes or block the
// sleeping thread until the test lets it go. Both classes are safe to use from several
// threads; the hook runs without any lock held, so it may call back into either fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "service/adapters/clock.h"

namespace zelk::test {

class FakeClock : public Clock {
  public:
    std::uint64_t NowMs() override {
        std::lock_guard<std::mutex> guard(lock_);
        return nowMs_;
    }

    void Advance(std::uint64_t milliseconds) {
        std::lock_guard<std::mutex> guard(lock_);
        nowMs_ += milliseconds;
    }

    // Moves the clock to `milliseconds`; never backwards (the real clock never goes back).
    void SetNowMs(std::uint64_t milliseconds) {
        std::lock_guard<std::mutex> guard(lock_);
        if (milliseconds > nowMs_) {
            nowMs_ = milliseconds;
        }
    }

    // The texts FormatTime and FormatDate give from now on.
    void SetTimeText(std::string text) {
        std::lock_guard<std::mutex> guard(lock_);
        time_ = std::move(text);
    }
    void SetDateText(std::string text) {
        std::lock_guard<std::mutex> guard(lock_);
        date_ = std::move(text);
    }
    // While true both Format calls fail and leave the buffer untouched.
    void SetFormatFails(bool fails) {
        std::lock_guard<std::mutex> guard(lock_);
        formatFails_ = fails;
    }

    bool FormatTime(char* buffer, std::size_t size) override {
        std::lock_guard<std::mutex> guard(lock_);
        return Copy(time_, buffer, size);
    }
    bool FormatDate(char* buffer, std::size_t size) override {
        std::lock_guard<std::mutex> guard(lock_);
        return Copy(date_, buffer, size);
    }

  private:
    bool Copy(const std::string& text, char* buffer, std::size_t size) const {
        if (formatFails_ || buffer == nullptr || text.size() >= size) {
            return false;
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return true;
    }

    std::mutex lock_;
    std::uint64_t nowMs_ = 0;
    std::string time_ = "12:00";
    std::string date_ = "01/01/2000";
    bool formatFails_ = false;
};

class FakeSleeper : public Sleeper {
  public:
    // With a clock, every sleep advances it by the time asked for.
    explicit FakeSleeper(FakeClock* clock = nullptr) : clock_(clock) {}

    void SleepMs(std::uint32_t milliseconds) override {
        std::function<void(std::uint32_t)> hook;
        {
            std::lock_guard<std::mutex> guard(lock_);
            sleeps_.push_back(milliseconds);
            hook = hook_;
        }
        if (clock_ != nullptr) {
            clock_->Advance(milliseconds);
        }
        if (hook) {
            hook(milliseconds);
        }
    }

    // Runs after every sleep, on the sleeping thread. An empty function removes it.
    void SetHook(std::function<void(std::uint32_t)> hook) {
        std::lock_guard<std::mutex> guard(lock_);
        hook_ = std::move(hook);
    }

    // Every sleep asked for so far, in order.
    std::vector<std::uint32_t> Sleeps() const {
        std::lock_guard<std::mutex> guard(lock_);
        return sleeps_;
    }
    std::size_t Count() const {
        std::lock_guard<std::mutex> guard(lock_);
        return sleeps_.size();
    }
    std::uint64_t TotalMs() const {
        std::lock_guard<std::mutex> guard(lock_);
        std::uint64_t total = 0;
        for (const std::uint32_t ms : sleeps_) {
            total += ms;
        }
        return total;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(lock_);
        sleeps_.clear();
    }

  private:
    FakeClock* clock_;
    mutable std::mutex lock_;
    std::vector<std::uint32_t> sleeps_;
    std::function<void(std::uint32_t)> hook_;
};

}  // namespace zelk::test
