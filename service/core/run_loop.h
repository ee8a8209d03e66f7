// The run loop and what the service's threads share: the media state with its lock, the wake
// event and the standby and stop flags. (The gates that halt the worker threads at safe points
// are in common/halt_gate.h.)
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "common/halt_gate.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/adapters/clock.h"
#include "service/core/media_state.h"

namespace zelk {

// A manual-reset event: stays set until reset.
class WakeEvent {
  public:
    void Set() EXCLUDES(mutex_);
    void Reset() EXCLUDES(mutex_);
    bool IsSet() const EXCLUDES(mutex_);
    // Waits until set.
    void Wait() EXCLUDES(mutex_);
    // Waits until set or `milliseconds` of real time have passed; true when set.
    bool WaitFor(std::uint32_t milliseconds) EXCLUDES(mutex_);

    // The idle signal: true while a thread waits here and the event is not set, so nothing
    // wakes that thread until someone sets the event. For the run loop this means it has drawn
    // every change so far; tests wait for it instead of sleeping to see that nothing more
    // happens.
    bool HasIdleWaiter() const EXCLUDES(mutex_);

  private:
    mutable Mutex mutex_;
    CondVar changed_;
    bool set_ GUARDED_BY(mutex_) = false;
    int waiters_ GUARDED_BY(mutex_) = 0;  // in Wait
};

// The objects every thread of the service reaches.
struct ServiceShared {
    // The state lock: held only to change or copy `state`, never while drawing or waiting.
    Mutex stateLock;
    MediaState state GUARDED_BY(stateLock);
    WakeEvent wake;  // has its own lock
    // Flags without a lock: each is one atomic value.
    std::atomic<std::int32_t> standby{0};
    std::atomic<std::int32_t> stop{0};
    // The run loop's passes: counted each time round, for a watchdog (RunLoopBeat).
    std::atomic<std::uint64_t> loopPasses{0};

    // The writer protocol: take the state lock, change the state, release, set the wake event.
    template <typename Change>
    void Write(Change&& change) EXCLUDES(stateLock) {
        {
            MutexLock guard(stateLock);
            change(state);
        }
        wake.Set();
    }

    // A copy of the state taken under the lock, for composing without holding it.
    MediaState Snapshot() EXCLUDES(stateLock);
};

// Something that wants the run loop at a time of the service's clock, without a thread or a
// timer of its own: the loop's wait ends at the earliest time its sources name.
struct DeadlineSource {
    // The next time (Clock::NowMs) to be called at; nothing when there is none. Asked on the
    // loop's thread before every wait, so a source's answer may change with every pass.
    std::function<std::optional<std::uint64_t>()> next;
    // Called on the loop's thread on the first pass at or after that time (after the pass's
    // redraw, if it has one), also in standby, never once the stop flag is set. Afterwards
    // `next` names a later time or none (else the loop would go round without waiting).
    std::function<void()> due;
};

// The loop's timed wait: the clock its deadlines are read on and their sources.
struct LoopDeadlines {
    Clock* clock = nullptr;
    std::vector<DeadlineSource> sources;
};

// Runs until the stop flag is 1: waits for the wake event (or the earliest deadline of
// `deadlines`), resets the event, and redraws from a copy of the state, except while in standby
// or stopping; then calls the sources whose time has come. A pass that only reached a deadline
// does not redraw. Whoever sets the stop flag sets the wake event after it. Returns the number of
// redraws.
std::uint64_t RunLoop(ServiceShared& shared, const std::function<void(const MediaState&)>& redraw,
                      const LoopDeadlines& deadlines = {});

// For a watchdog: whether the run loop is alive, that is, it went round since the last look, or
// it waits for the wake event with nothing to do (in standby nothing wakes it for a long time).
// A loop held in a redraw, or not yet entered, is not alive.
class RunLoopBeat {
  public:
    explicit RunLoopBeat(const ServiceShared& shared) : shared_(shared) {}
    bool Alive();

  private:
    const ServiceShared& shared_;
    std::uint64_t seen_ = 0;
};

}  // namespace zelk
