#include "tools/lumarad/logind_watch_posix.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

namespace zelk {

namespace {

constexpr char kLogindName[] = "org.freedesktop.login1";
constexpr char kLogindPath[] = "/org/freedesktop/login1";
constexpr char kManagerInterface[] = "org.freedesktop.login1.Manager";

// A bus error, freed on the way out.
struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~BusError() { sd_bus_error_free(&error); }
};

}  // namespace

bool LogindWatch::Connect(sd_event* event, Handler handler, Warn warn, std::string& why) {
    handler_ = std::move(handler);
    warn_ = std::move(warn);
    int r = sd_bus_open_system(bus_.Receive());
    if (r < 0) {
        why = std::string("no system bus (") + std::strerror(-r) + ")";
        return false;
    }
    r = sd_bus_attach_event(bus_.Get(), event, SD_EVENT_PRIORITY_NORMAL);
    if (r >= 0) {
        r = sd_bus_match_signal(bus_.Get(), sleepSlot_.Receive(), kLogindName, kLogindPath,
                                kManagerInterface, "PrepareForSleep", &LogindWatch::OnPrepare,
                                this);
    }
    if (r >= 0) {
        r = sd_bus_match_signal(bus_.Get(), shutdownSlot_.Receive(), kLogindName, kLogindPath,
                                kManagerInterface, "PrepareForShutdown", &LogindWatch::OnPrepare,
                                this);
    }
    if (r < 0) {
        why = std::string("cannot subscribe to logind's signals (") + std::strerror(-r) + ")";
        sleepSlot_.Reset();
        shutdownSlot_.Reset();
        bus_.Reset();
        return false;
    }
    TakeDelayLock();
    return true;
}

int LogindWatch::OnPrepare(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* watch = static_cast<LogindWatch*>(self);
    int start = 0;
    if (sd_bus_message_read(message, "b", &start) < 0) {
        return 0;
    }
    const bool sleep = std::strcmp(sd_bus_message_get_member(message), "PrepareForSleep") == 0;
    watch->handler_(sleep ? Notice::kSleep : Notice::kShutdown, start != 0);
    if (start != 0) {
        watch->delayLock_.Reset();  // the screen is written: the machine may go on now
    } else {
        watch->TakeDelayLock();
    }
    return 0;
}

void LogindWatch::TakeDelayLock() {
    if (delayLock_) {
        return;
    }
    BusError error;
    UniqueRef<sd_bus_message, sd_bus_message_unref> reply;
    int r = sd_bus_call_method(bus_.Get(), kLogindName, kLogindPath, kManagerInterface, "Inhibit",
                               &error.error, reply.Receive(), "ssss", "sleep:shutdown", "lumarad",
                               "Showing the front panel's standby or shutdown screen", "delay");
    int fd = -1;
    if (r >= 0) {
        r = sd_bus_message_read(reply.Get(), "h", &fd);
    }
    if (r >= 0) {
        delayLock_.Reset(fcntl(fd, F_DUPFD_CLOEXEC, 3));  // the reply owns `fd`
    }
    if (delayLock_ || warned_) {
        return;
    }
    warned_ = true;
    // Without polkit logind refuses the lock to a service that does not run as root.
    const bool refused = sd_bus_error_has_names(&error.error, SD_BUS_ERROR_ACCESS_DENIED,
                                                SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED);
    const std::string detail =
        error.error.message != nullptr ? error.error.message : std::strerror(r < 0 ? -r : errno);
    warn_(refused ? "logind refused the sleep delay lock (" + detail +
                        "; is polkit installed?): the panel will not show the standby screen "
                        "before sleep"
                  : "logind gives no sleep delay lock (" + detail +
                        "): the panel will not show the standby screen before sleep");
}

}  // namespace zelk
