// When to try again something that keeps failing (a writer waiting for the service to serve
// its pipe again): soon after the first failure, then less and less often, never less often
// than the cap; a success starts over.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zelk {

class RetryBackoff {
  public:
    RetryBackoff(std::uint64_t firstMs, std::uint64_t capMs) : firstMs_(firstMs), capMs_(capMs) {}

    // Whether a try is due at `nowMs` (always, until a try failed).
    bool Due(std::uint64_t nowMs) const { return nowMs >= nextMs_; }
    // When the next try is due (0 until a try failed), and the wait the last failure set.
    std::uint64_t DueAtMs() const { return nextMs_; }
    std::uint64_t WaitMs() const { return waitMs_; }
    // The try at `nowMs` failed: the next one waits twice as long as the last wait, up to the cap.
    void Failed(std::uint64_t nowMs) {
        waitMs_ = waitMs_ == 0 ? firstMs_ : std::min(waitMs_ * 2, capMs_);
        nextMs_ = nowMs + waitMs_;
    }
    void Succeeded() {
        waitMs_ = 0;
        nextMs_ = 0;
    }

  private:
    std::uint64_t firstMs_, capMs_;
    std::uint64_t waitMs_ = 0;
    std::uint64_t nextMs_ = 0;
};

}  // namespace zelk
