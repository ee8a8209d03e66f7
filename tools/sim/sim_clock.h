// The simulator's clock: the system's, moved forward on request so that idle and night dimming
// can be tried without waiting for them. The time and date texts on the panel stay the real ones.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "service/adapters/clock.h"

namespace zelk {

class SimClock : public Clock {
  public:
    explicit SimClock(Clock& real) : real_(real) {}

    void Advance(std::uint64_t milliseconds) { offsetMs_.fetch_add(milliseconds); }
    std::uint64_t OffsetMs() const { return offsetMs_.load(); }

    std::uint64_t NowMs() override { return real_.NowMs() + offsetMs_.load(); }
    bool FormatTime(char* buffer, std::size_t size) override {
        return real_.FormatTime(buffer, size);
    }
    bool FormatDate(char* buffer, std::size_t size) override {
        return real_.FormatDate(buffer, size);
    }
    bool LocalMsOfDay(std::uint64_t afterMs, std::uint32_t& msOfDay) override {
        return real_.LocalMsOfDay(offsetMs_.load() + afterMs, msOfDay);
    }

  private:
    Clock& real_;
    std::atomic<std::uint64_t> offsetMs_{0};
};

// A time span as the simulator takes it: whole seconds, or a number with the suffix s, m or h
// ("90", "90s", "5m", "8h"), at most a year.
std::optional<std::uint64_t> ParseTimeSpanMs(const std::string& text);

}  // namespace zelk
