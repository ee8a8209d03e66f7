// Test doubles for Clock and Sleeper: time that moves only when a test (or a sleep) moves it.
//
//   FakeClock clock;                  // NowMs() starts at 0; texts "12:00" and "01/01/2000"
//   clock.SetLocalTime(23 * kHourMs); // local time known from now on: 23:00 at this moment
//   clock.ShiftLocalTimeAt(ms, -kHourMs);  // a daylight saving change at NowMs() == ms
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

    // The local time of day at this moment; until the first call the local time is unknown.
    void SetLocalTime(std::uint32_t msOfDay) {
        std::lock_guard<std::mutex> guard(lock_);
        localKnown_ = true;
        localAtZero_ = static_cast<std::int64_t>(msOfDay) - static_cast<std::int64_t>(nowMs_);
        shifts_.clear();
    }
    // From NowMs() == `atMs` on, the local time is `shiftMs` further (+1 h when daylight saving
    // time starts, -1 h when it ends).
    void ShiftLocalTimeAt(std::uint64_t atMs, std::int64_t shiftMs) {
        std::lock_guard<std::mutex> guard(lock_);
        shifts_.emplace_back(atMs, shiftMs);
    }
    bool LocalMsOfDay(std::uint64_t afterMs, std::uint32_t& msOfDay) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (!localKnown_) return false;
        const std::uint64_t at = nowMs_ + afterMs;
        std::int64_t local = localAtZero_ + static_cast<std::int64_t>(at);
        for (const auto& [shiftAt, shift] : shifts_) {
            if (at >= shiftAt) local += shift;
        }
        const std::int64_t day = kMsPerDay;
        msOfDay = static_cast<std::uint32_t>(((local % day) + day) % day);
        return true;
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
    bool localKnown_ = false;
    std::int64_t localAtZero_ = 0;
    std::vector<std::pair<std::uint64_t, std::int64_t>> shifts_;
};

inline constexpr std::uint32_t kHourMs = 60u * 60u * 1000u;

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
