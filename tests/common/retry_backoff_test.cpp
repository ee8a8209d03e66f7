// The back-off of a writer waiting for the service: the waits between tries grow to the cap,
// and a success starts over.
#include <gtest/gtest.h>

#include <vector>

#include "common/retry_backoff.h"

namespace zelk {
namespace {

// The times at which tries are made when the caller looks every `tickMs` and every try fails.
std::vector<std::uint64_t> Tries(RetryBackoff& backoff, std::uint64_t fromMs, std::uint64_t toMs,
                                 std::uint64_t tickMs) {
    std::vector<std::uint64_t> tries;
    for (std::uint64_t now = fromMs; now <= toMs; now += tickMs) {
        if (backoff.Due(now)) {
            tries.push_back(now);
            backoff.Failed(now);
        }
    }
    return tries;
}

TEST(RetryBackoff, WaitsGrowToTheCapAndStartOverAfterASuccess) {
    RetryBackoff backoff(1000, 5000);
    EXPECT_EQ(Tries(backoff, 0, 30000, 1000),
              (std::vector<std::uint64_t>{0, 1000, 3000, 7000, 12000, 17000, 22000, 27000}));
    EXPECT_FALSE(backoff.Due(31999));
    backoff.Succeeded();
    EXPECT_TRUE(backoff.Due(31999));
    EXPECT_EQ(Tries(backoff, 40000, 44000, 500), (std::vector<std::uint64_t>{40000, 41000, 43000}));
}

}  // namespace
}  // namespace zelk
