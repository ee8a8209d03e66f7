// The run loop, the halt gate and the clock thread on their own, with fake time.
#include <gtest/gtest.h>

#include "service/core/clock_thread.h"
#include "service/core/run_loop.h"
#include "tests/service/service_test_support.h"

namespace zelk {
namespace {

using namespace test;  // the fakes and the service rig

using std::chrono::milliseconds;

// A run loop on its own thread, keeping every copy it was asked to draw.
class LoopUnderTest {
  public:
    explicit LoopUnderTest(std::function<void(const MediaState&, int)> during = nullptr)
        : during_(std::move(during)) {}
    ~LoopUnderTest() { StopAndJoin(); }

    void Start() {
        thread_ = std::thread([this] {
            redraws_ = RunLoop(
                shared,
                [this](const MediaState& copy) {
                    int n;
                    {
                        std::lock_guard<std::mutex> guard(lock_);
                        drawn_.push_back(copy);
                        n = static_cast<int>(drawn_.size());
                    }
                    if (during_) during_(copy, n);
                },
                deadlines);
            ended_.store(true);
        });
    }
    void StopAndJoin() {
        shared.stop.store(1);
        shared.wake.Set();
        if (thread_.joinable()) thread_.join();
    }
    std::vector<MediaState> Drawn() {
        std::lock_guard<std::mutex> guard(lock_);
        return drawn_;
    }
    std::size_t Count() { return Drawn().size(); }
    bool Ended() const { return ended_.load(); }
    std::uint64_t Redraws() const { return redraws_; }

    ServiceShared shared;
    LoopDeadlines deadlines;  // none unless a test gives some before Start

  private:
    std::function<void(const MediaState&, int)> during_;
    std::mutex lock_;
    std::vector<MediaState> drawn_;
    std::atomic<bool> ended_{false};
    std::uint64_t redraws_ = 0;
    std::thread thread_;
};

TEST(RunLoop, ChangesMadeBeforeAWakeAreDrawnOnceTogether) {
    LoopUnderTest loop;
    loop.shared.Write([](MediaState& s) { s.trackNumber = 3; });
    loop.shared.Write([](MediaState& s) { s.totalTracks = 12; });
    loop.Start();
    // Once the loop waits with nothing set, it has drawn everything it will.
    ASSERT_TRUE(WaitUntil([&] { return loop.Count() == 1 && loop.shared.wake.HasIdleWaiter(); }));
    loop.StopAndJoin();
    const auto drawn = loop.Drawn();
    ASSERT_EQ(drawn.size(), 1u);  // the stop's own wake-up draws nothing
    EXPECT_EQ(drawn[0].trackNumber, 3);
    EXPECT_EQ(drawn[0].totalTracks, 12);
    EXPECT_EQ(loop.Redraws(), 1u);
}

TEST(RunLoop, AChangeDuringARedrawIsDrawnByOneMoreRedraw) {
    LoopUnderTest* self = nullptr;
    LoopUnderTest loop([&self](const MediaState&, int n) {
        // A writer that comes in while the first redraw runs.
        if (n == 1) self->shared.Write([](MediaState& s) { s.trackNumber = 9; });
    });
    self = &loop;
    loop.shared.Write([](MediaState& s) { s.trackNumber = 1; });
    loop.Start();
    ASSERT_TRUE(WaitUntil([&] { return loop.Count() == 2; }, milliseconds(2000)))
        << "the change made during the redraw waited for another wake-up";
    EXPECT_EQ(loop.Drawn()[1].trackNumber, 9);
    ASSERT_TRUE(WaitUntil([&] { return loop.shared.wake.HasIdleWaiter(); }));
    EXPECT_EQ(loop.Count(), 2u);
}

// A source of one deadline at a time, counting the calls it gets when it is due.
struct OneDeadline {
    std::atomic<std::int64_t> at{-1};  // -1: none
    std::atomic<int> dueCalls{0};
    DeadlineSource Source() {
        return {[this]() -> std::optional<std::uint64_t> {
                    const std::int64_t value = at.load();
                    if (value < 0) return std::nullopt;
                    return static_cast<std::uint64_t>(value);
                },
                [this] {
                    ++dueCalls;
                    at.store(-1);
                }};
    }
};

TEST(RunLoop, TheEarliestOfSeveralDeadlinesEndsTheWaitWithoutARedraw) {
    FakeClock clock;
    clock.Advance(6000);
    OneDeadline first, second;
    first.at.store(5000);  // already past
    second.at.store(8000);
    LoopUnderTest loop;
    loop.deadlines = {&clock, {first.Source(), second.Source()}};
    loop.Start();
    // The past deadline is served at once, without a wake-up and without a redraw; then the loop
    // waits for the second one.
    ASSERT_TRUE(WaitUntil([&] { return first.dueCalls == 1 && loop.shared.wake.HasIdleWaiter(); }));
    EXPECT_EQ(second.dueCalls.load(), 0);
    EXPECT_EQ(loop.Count(), 0u);
    // Time moved on and a nudge: one redraw, then the source whose time has come.
    clock.Advance(2000);
    loop.shared.wake.Set();
    ASSERT_TRUE(
        WaitUntil([&] { return second.dueCalls == 1 && loop.shared.wake.HasIdleWaiter(); }));
    EXPECT_EQ(loop.Count(), 1u);
    EXPECT_EQ(first.dueCalls.load(), 1);
    // No deadlines left: the loop waits for the event alone, and a stop ends it.
    loop.StopAndJoin();
    EXPECT_EQ(loop.Count(), 1u);
    EXPECT_EQ(second.dueCalls.load(), 1);
}

// (What the loop spends in standby is measured by bench/service_cpu_bench.)
TEST(RunLoop, InStandbyNothingIsDrawnAndStopIsSeen) {
    LoopUnderTest loop;
    loop.shared.standby.store(1);
    loop.Start();
    for (int i = 0; i < 20; ++i) {
        loop.shared.Write([i](MediaState& s) { s.trackNumber = i; });
    }
    // The loop has taken every change: it waits again with nothing set.
    ASSERT_TRUE(WaitUntil([&] { return loop.shared.wake.HasIdleWaiter(); }));
    EXPECT_EQ(loop.Count(), 0u);

    // Leaving standby, the changes seen in it are not drawn by themselves (the loop goes to
    // its untimed wait without drawing); the next one is.
    loop.shared.standby.store(0);
    ASSERT_TRUE(WaitUntil([&] { return loop.shared.wake.HasIdleWaiter(); }));
    EXPECT_EQ(loop.Count(), 0u);
    loop.shared.Write([](MediaState& s) { s.trackNumber = 42; });
    ASSERT_TRUE(WaitUntil([&] { return loop.Count() == 1; }));
    EXPECT_EQ(loop.Drawn()[0].trackNumber, 42);

    // Back in standby (seen at the next change), the loop blocks; a stop with its wake-up ends
    // it at once.
    loop.shared.standby.store(1);
    loop.shared.Write([](MediaState& s) { s.trackNumber = 43; });
    ASSERT_TRUE(WaitUntil([&] { return loop.shared.wake.HasIdleWaiter(); }));  // blocked
    EXPECT_FALSE(loop.Ended());
    const auto start = std::chrono::steady_clock::now();
    loop.shared.stop.store(1);
    loop.shared.wake.Set();
    ASSERT_TRUE(WaitUntil([&] { return loop.Ended(); }, milliseconds(2000)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(250));
    EXPECT_EQ(loop.Count(), 1u);
}

TEST(HaltGate, HaltIsIdempotentOpenLetsWaitersGoShutdownEndsThem) {
    HaltGate gate;
    EXPECT_TRUE(gate.Pass());
    gate.Halt();
    gate.Halt();
    EXPECT_TRUE(gate.IsHalted());
    std::atomic<int> passed{0};
    std::thread a([&] { passed += gate.Pass() ? 1 : 0; });
    std::thread b([&] { passed += gate.Pass() ? 1 : 0; });
    ASSERT_TRUE(WaitUntil([&] { return gate.Waiting() == 2; }));
    EXPECT_EQ(passed.load(), 0);
    gate.Open();  // one open undoes any number of halts
    a.join();
    b.join();
    EXPECT_EQ(passed.load(), 2);

    gate.Halt();
    std::atomic<int> result{-1};
    std::thread c([&] { result = gate.Pass() ? 1 : 0; });
    ASSERT_TRUE(WaitUntil([&] { return gate.Waiting() == 1; }));
    gate.Shutdown();
    c.join();
    EXPECT_EQ(result.load(), 0);
    gate.Open();
    EXPECT_FALSE(gate.Pass());  // for good
}

// ---- Clock thread ----

struct ClockRig {
    FakeClock clock;
    GatedSleeper sleeper{clock};
    ServiceShared shared;
    HaltGate gate;
    ClockThread thread{shared, clock, sleeper, gate};
    ~ClockRig() {
        thread.Stop();
        sleeper.ReleaseAll();
    }
    std::string Time() { return shared.Snapshot().timeText; }
};

TEST(ClockThread, TicksAtOnceThenEveryTenSecondsAndAFailedFormatKeepsTheText) {
    ClockRig rig;
    rig.clock.SetTimeText("21:07");
    rig.clock.SetDateText("03/04/2024");
    rig.thread.Start();
    ASSERT_TRUE(WaitUntil([&] { return rig.thread.Ticks() == 1; }));
    EXPECT_EQ(rig.Time(), "21:07");
    EXPECT_STREQ(rig.shared.Snapshot().dateText, "03/04/2024");
    EXPECT_TRUE(rig.shared.wake.IsSet());

    rig.shared.wake.Reset();
    rig.clock.SetTimeText("21:08");
    rig.sleeper.Grant(kClockPeriodMs - 1);
    ASSERT_TRUE(rig.sleeper.WaitForSleepers(1));
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(rig.thread.Ticks(), 1u);
    EXPECT_FALSE(rig.shared.wake.IsSet());
    rig.sleeper.Grant(1);
    ASSERT_TRUE(WaitUntil([&] { return rig.thread.Ticks() == 2; }));
    EXPECT_EQ(rig.Time(), "21:08");
    EXPECT_TRUE(rig.shared.wake.IsSet());

    rig.clock.SetTimeText("21:09");
    rig.clock.SetFormatFails(true);
    rig.sleeper.Grant(kClockPeriodMs);
    ASSERT_TRUE(WaitUntil([&] { return rig.thread.Ticks() == 3; }));
    EXPECT_EQ(rig.Time(), "21:08");
}

TEST(ClockThread, AHaltedClockDoesNotTickUntilOpened) {
    ClockRig rig;
    rig.thread.Start();
    ASSERT_TRUE(WaitUntil([&] { return rig.thread.Ticks() == 1; }));
    rig.gate.Halt();
    rig.sleeper.Grant(5 * kClockPeriodMs);
    ASSERT_TRUE(WaitUntil([&] { return rig.gate.Waiting() == 1; }));
    EXPECT_EQ(rig.thread.Ticks(), 1u);
    // Halted outside the state lock: writers still get it.
    {
        std::unique_lock<Mutex> lock(rig.shared.stateLock, std::try_to_lock);
        EXPECT_TRUE(lock.owns_lock());
    }
    rig.gate.Open();
    ASSERT_TRUE(WaitUntil([&] { return rig.thread.Ticks() >= 2; }));
}

TEST(ClockThread, SleepsAPeriodInOneWaitThatQuitEndsAtOnce) {
    ClockRig rig;
    rig.thread.Start();
    ASSERT_TRUE(rig.sleeper.WaitForSleepers(1));
    EXPECT_EQ(rig.sleeper.Asked(), std::vector<std::uint32_t>{kClockPeriodMs});
    const auto start = std::chrono::steady_clock::now();
    rig.thread.Stop();  // no time granted: only the stop signal ends the wait
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000));
    EXPECT_EQ(rig.thread.Ticks(), 1u);
    EXPECT_EQ(rig.clock.NowMs(), 0u);
}

}  // namespace
}  // namespace zelk
