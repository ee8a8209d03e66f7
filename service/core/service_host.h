// What Run and the control handlers need from the service framework that hosts them: status
// reports, event log entries, the beep, and the current state under the status lock. The SCM
// framework implements it for the real service; StandaloneServiceHost serves the simulator and
// the tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

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
    // The framework's status lock and the current state it guards.
    virtual std::recursive_mutex& StatusLock() = 0;
    virtual void SetCurrentState(std::uint32_t state) = 0;  // caller holds StatusLock()
    virtual std::uint32_t CurrentState() = 0;               // caller holds StatusLock()
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
            std::lock_guard<std::recursive_mutex> guard(lock_);
            reports_.push_back({state, checkPoint, waitHint, controlsAccepted});
            currentState_ = state;
        }
        changed_.notify_all();
        return true;
    }
    void LogEvent(std::uint16_t type, std::uint32_t eventId, const char* text) override {
        {
            std::lock_guard<std::recursive_mutex> guard(lock_);
            events_.push_back({type, eventId, text ? text : ""});
        }
        changed_.notify_all();
    }
    void MessageBeep(std::uint32_t type) override {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        beeps_.push_back(type);
    }
    std::recursive_mutex& StatusLock() override { return lock_; }
    void SetCurrentState(std::uint32_t state) override { currentState_ = state; }
    std::uint32_t CurrentState() override { return currentState_; }

    // Waits (real time) until `state` has been reported; false on time-out.
    bool WaitForReport(std::uint32_t state, std::uint32_t timeoutMs) {
        std::unique_lock<std::recursive_mutex> lock(lock_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const StatusReport& r : reports_) {
                if (r.state == state) return true;
            }
            return false;
        });
    }
    std::vector<StatusReport> Reports() {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        return reports_;
    }
    std::vector<Event> Events() {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        return events_;
    }
    std::vector<std::uint32_t> Beeps() {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        return beeps_;
    }

  private:
    // The status lock; it guards every field below.
    std::recursive_mutex lock_;
    std::condition_variable_any changed_;
    std::uint32_t currentState_ = kServiceStopped;  // guarded by lock_
    std::vector<StatusReport> reports_;             // guarded by lock_
    std::vector<Event> events_;                     // guarded by lock_
    std::vector<std::uint32_t> beeps_;              // guarded by lock_
};

}  // namespace zelk
