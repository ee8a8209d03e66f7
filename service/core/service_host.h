// What Run and the control handlers need from the service framework that hosts them: status
// reports, event log entries, the beep, and the current state under the status lock. The SCM
// framework implements it for the real service; StandaloneServiceHost serves the simulator and
// the tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/mutex.h"
#include "common/thread_annotations.h"

namespace zelk {

// Service states as the SCM numbers them.
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceContinuePending = 5;
inline constexpr std::uint32_t kServicePausePending = 6;
inline constexpr std::uint32_t kServicePaused = 7;

// Passed for a status value that keeps the stored one.
inline constexpr std::uint32_t kKeepStatusValue = 0xFFFFFFFFu;

// Event log entry types.
inline constexpr std::uint16_t kEventTypeError = 0x0001;
inline constexpr std::uint16_t kEventTypeWarning = 0x0002;
inline constexpr std::uint16_t kEventTypeInformation = 0x0004;

// MessageBeep sound.
inline constexpr std::uint32_t kBeepExclamation = 0x30;

class ServiceHost {
  public:
    virtual ~ServiceHost() = default;
    // State, check point, wait hint, controls accepted; kKeepStatusValue keeps a stored value.
    virtual bool ReportStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                              std::uint32_t controlsAccepted) = 0;
    virtual void LogEvent(std::uint16_t type, std::uint32_t eventId, const char* text) = 0;
    virtual void MessageBeep(std::uint32_t type) = 0;
    // The current state, under the framework's status lock. `alsoUnderLock`, when given, runs
    // while the lock is still held (a flag that must change with the state).
    virtual void SetCurrentState(std::uint32_t state,
                                 const std::function<void()>& alsoUnderLock) = 0;
    virtual std::uint32_t CurrentState() = 0;
};

// A host without the SCM: keeps every report, event and beep, and lets a caller wait for a
// reported state.
class StandaloneServiceHost : public ServiceHost {
  public:
    struct StatusReport {
        std::uint32_t state, checkPoint, waitHint, controlsAccepted;
    };
    struct Event {
        std::uint16_t type;
        std::uint32_t id;
        std::string text;
    };

    bool ReportStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                      std::uint32_t controlsAccepted) override {
        {
            MutexLock guard(lock_);
            reports_.push_back({state, checkPoint, waitHint, controlsAccepted});
            currentState_ = state;
        }
        changed_.NotifyAll();
        return true;
    }
    void LogEvent(std::uint16_t type, std::uint32_t eventId, const char* text) override {
        {
            MutexLock guard(lock_);
            events_.push_back({type, eventId, text ? text : ""});
        }
        changed_.NotifyAll();
    }
    void MessageBeep(std::uint32_t type) override {
        MutexLock guard(lock_);
        beeps_.push_back(type);
    }
    void SetCurrentState(std::uint32_t state, const std::function<void()>& alsoUnderLock) override {
        MutexLock guard(lock_);
        currentState_ = state;
        if (alsoUnderLock) alsoUnderLock();
    }
    std::uint32_t CurrentState() override {
        MutexLock guard(lock_);
        return currentState_;
    }

    // Waits (real time) until `state` has been reported; false on time-out.
    bool WaitForReport(std::uint32_t state, std::uint32_t timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        MutexLock guard(lock_);
        for (;;) {
            for (const StatusReport& r : reports_) {
                if (r.state == state) return true;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return false;
            changed_.WaitFor(
                lock_, static_cast<std::uint32_t>(
                           std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
        }
    }
    std::vector<StatusReport> Reports() {
        MutexLock guard(lock_);
        return reports_;
    }
    std::vector<Event> Events() {
        MutexLock guard(lock_);
        return events_;
    }
    std::vector<std::uint32_t> Beeps() {
        MutexLock guard(lock_);
        return beeps_;
    }

  private:
    // The status lock.
    Mutex lock_;
    CondVar changed_;
    std::uint32_t currentState_ GUARDED_BY(lock_) = kServiceStopped;
    std::vector<StatusReport> reports_ GUARDED_BY(lock_);
    std::vector<Event> events_ GUARDED_BY(lock_);
    std::vector<std::uint32_t> beeps_ GUARDED_BY(lock_);
};

}  // namespace zelk
