// Test doubles for the panel tests: a sleeper that only records (and can hold one sleep), and
// converters with known behaviour.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "service/adapters/clock.h"
#include "service/adapters/text_converter.h"

namespace zelk::test {

class RecordingSleeper : public Sleeper {
  public:
    void SleepMs(std::uint32_t milliseconds) override {
        if (onSleep) onSleep(milliseconds);
        std::unique_lock<std::mutex> guard(lock_);
        sleeps_.push_back(milliseconds);
        if (milliseconds == pauseMs_ && ++pauseHits_ == pauseAt_) {
            paused_ = true;
            changed_.notify_all();
            changed_.wait(guard, [this] { return released_; });
            paused_ = false;
        }
    }
    // Called at the start of every sleep, on the sleeping thread; set before any thread sleeps.
    std::function<void(std::uint32_t)> onSleep;

    std::size_t Count(std::uint32_t milliseconds) const {
        std::lock_guard<std::mutex> guard(lock_);
        return static_cast<std::size_t>(std::count(sleeps_.begin(), sleeps_.end(), milliseconds));
    }
    std::vector<std::uint32_t> Sleeps() const {
        std::lock_guard<std::mutex> guard(lock_);
        return sleeps_;
    }
    // Holds the `nth` (1-based) sleep of `milliseconds` until Release().
    void PauseAt(std::uint32_t milliseconds, std::size_t nth) {
        std::lock_guard<std::mutex> guard(lock_);
        pauseMs_ = milliseconds;
        pauseAt_ = nth;
        pauseHits_ = 0;
        released_ = false;
    }
    bool WaitUntilPaused() {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10), [this] { return paused_; });
    }
    void Release() {
        std::lock_guard<std::mutex> guard(lock_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::uint32_t> sleeps_;
    std::uint32_t pauseMs_ = 0;
    std::size_t pauseAt_ = 0;
    std::size_t pauseHits_ = 0;
    bool paused_ = false;
    bool released_ = true;
};

// Writes every source byte `copies` times, as many as fit: with 2 its output is longer than
// what it consumed.
class RepeatingConverter : public TextConverter {
  public:
    explicit RepeatingConverter(std::uint32_t copies = 1) : copies_(copies) {}
    HResult Open() override { return kSOk; }
    HResult SetCodePages(std::uint32_t, std::uint32_t, std::uint32_t) override { return kSOk; }
    HResult Convert(const char* source, std::uint32_t& sourceLength, char* destination,
                    std::uint32_t& destinationCapacity) override {
        std::uint32_t consumed = 0;
        std::uint32_t written = 0;
        for (; consumed < sourceLength && written + copies_ <= destinationCapacity; ++consumed) {
            for (std::uint32_t i = 0; i < copies_; ++i) destination[written++] = source[consumed];
        }
        sourceLength = consumed;
        destinationCapacity = written;
        return kSOk;
    }

  private:
    std::uint32_t copies_;
};

using Report = std::vector<std::uint8_t>;

// An 8-byte report with the given leading bytes.
inline Report R(std::initializer_list<std::uint8_t> bytes) {
    Report report(bytes);
    report.resize(8, 0);
    return report;
}

// The character reports of one whole line as the panel receives them.
inline std::vector<Report> LineReports(const std::string& text, std::uint8_t lineCode) {
    std::vector<Report> reports;
    for (std::size_t c = 0; c < 12; ++c) {
        const auto ch = static_cast<std::uint8_t>(c < text.size() ? text[c] : ' ');
        reports.push_back(R({1, static_cast<std::uint8_t>(lineCode | c), ch}));
    }
    return reports;
}

}  // namespace zelk::test
