#include "tools/lumarad/daemon_host_posix.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "tools/lumarad/daemon_events.h"

namespace zelk {

namespace {

constexpr int kPriorityError = 3;
constexpr int kPriorityWarning = 4;
constexpr int kPriorityInfo = 6;

// JOURNAL_STREAM holds "device:inode" of the stream systemd connected to the journal.
bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) {
        return false;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) {
        return false;
    }
    struct stat info {};
    return fstat(STDERR_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

}  // namespace

DaemonLog::DaemonLog() : journal_(StderrIsJournal()) {}

void DaemonLog::Event(std::uint16_t type, std::uint32_t eventId, const std::string& text) {
    const int priority = type == kEventTypeError     ? kPriorityError
                         : type == kEventTypeWarning ? kPriorityWarning
                                                     : kPriorityInfo;
    const std::string message = DaemonEventText(eventId, text);
    MutexLock guard(lock_);
    if (journal_ && sd_journal_send("MESSAGE=%s", message.c_str(), "PRIORITY=%d", priority,
                                    "LUMARA_EVENT_ID=0x%08" PRIX32, eventId,
                                    "SYSLOG_IDENTIFIER=lumarad", nullptr) >= 0) {
        return;
    }
    std::fprintf(stderr, "lumarad: %s (event 0x%08" PRIX32 ")\n", message.c_str(), eventId);
    std::fflush(stderr);
}

void DaemonLog::Notice(int priority, const std::string& text) {
    MutexLock guard(lock_);
    if (journal_ && sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=%d", priority,
                                    "SYSLOG_IDENTIFIER=lumarad", nullptr) >= 0) {
        return;
    }
    std::fprintf(stderr, "lumarad: %s\n", text.c_str());
    std::fflush(stderr);
}

bool DaemonHost::ReportStatus(std::uint32_t state, std::uint32_t, std::uint32_t, std::uint32_t) {
    {
        MutexLock guard(lock_);
        state_ = state;
    }
    if (state == kServiceRunning) {
        if (beforeReady_) {
            beforeReady_();
        }
        NotifyServiceManager("READY=1\nSTATUS=Driving the front panel");
    } else if (state == kServiceStopPending) {
        NotifyStopping();
    }
    return true;
}

void DaemonHost::NotifyStopping() {
    if (!stoppingSent_.exchange(true)) {
        NotifyServiceManager("STOPPING=1");
    }
}

void DaemonHost::LogEvent(std::uint16_t type, std::uint32_t eventId, const char* text) {
    log_.Event(type, eventId, text != nullptr ? text : "");
}

void NotifyServiceManager(const std::string& state) {
    sd_notify(0, state.c_str());
}

}  // namespace zelk
