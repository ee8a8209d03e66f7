// What hosts the service's Run as a daemon: status reports become systemd notifications
// (READY, STOPPING), events go to the journal with their id as a field, or to standard error
// when the daemon does not run under systemd.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/core/service_host.h"

namespace zelk {

// One line of the daemon's own log: an event of the service, or a notice of the daemon.
class DaemonLog {
  public:
    // Writes to the journal when standard error is connected to it (JOURNAL_STREAM names it).
    DaemonLog();
    bool ToJournal() const { return journal_; }

    // `type` is an event log type (error or information).
    void Event(std::uint16_t type, std::uint32_t eventId, const std::string& text);
    // A notice of the daemon itself, with a syslog priority (3 error, 4 warning, 6 info).
    void Notice(int priority, const std::string& text);

  private:
    bool journal_ = false;
    // One line at a time, whichever thread writes it.
    Mutex lock_;
};

class DaemonHost : public ServiceHost {
  public:
    // `beforeReady` runs when Run reports running, before READY is sent (it waits until the
    // pipe is served).
    DaemonHost(DaemonLog& log, std::function<void()> beforeReady)
        : log_(log), beforeReady_(std::move(beforeReady)) {}

    bool ReportStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                      std::uint32_t controlsAccepted) override;
    void LogEvent(std::uint16_t type, std::uint32_t eventId, const char* text) override;
    void MessageBeep(std::uint32_t) override {}  // no beep on this platform
    void SetCurrentState(std::uint32_t state, const std::function<void()>& alsoUnderLock) override {
        MutexLock guard(lock_);
        state_ = state;
        if (alsoUnderLock) alsoUnderLock();
    }
    std::uint32_t CurrentState() override {
        MutexLock guard(lock_);
        return state_;
    }

    // Tells the service manager that the daemon is stopping: the first call only (a stop
    // signal and Run's stop report both say it).
    void NotifyStopping();

  private:
    DaemonLog& log_;
    std::function<void()> beforeReady_;
    // The status lock.
    Mutex lock_;
    std::uint32_t state_ GUARDED_BY(lock_) = kServiceStopped;
    std::atomic<bool> stoppingSent_{false};
};

// Sends one notification to the service manager (nothing when NOTIFY_SOCKET is unset).
void NotifyServiceManager(const std::string& state);

}  // namespace zelk
