#include "tools/lumarad/logind_watch_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace zelk {

namespace {

constexpr char kLogindName[] = "org.freedesktop.login1";
constexpr char kLogindPath[] = "/org/freedesktop/login1";
constexpr char kManagerInterface[] = "org.freedesktop.login1.Manager";

}  // namespace

LogindWatch::~LogindWatch() {
    ReleaseDelayLock();
    sd_bus_slot_unref(sleepSlot_);
    sd_bus_slot_unref(shutdownSlot_);
    sd_bus_flush_close_unref(bus_);
}

bool LogindWatch::Connect(Handlers handlers, std::string& why, std::string& warning) {
    handlers_ = std::move(handlers);
    int r = sd_bus_open_system(&bus_);
    if (r < 0) {
        bus_ = nullptr;
        why = std::string("no system bus (") + std::strerror(-r) + ")";
        return false;
    }
    r = sd_bus_match_signal(bus_, &sleepSlot_, kLogindName, kLogindPath, kManagerInterface,
                            "PrepareForSleep", &LogindWatch::OnSleep, this);
    if (r >= 0) {
        r = sd_bus_match_signal(bus_, &shutdownSlot_, kLogindName, kLogindPath, kManagerInterface,
                                "PrepareForShutdown", &LogindWatch::OnShutdown, this);
    }
    if (r < 0) {
        why = std::string("cannot subscribe to logind's signals (") + std::strerror(-r) + ")";
        sd_bus_flush_close_unref(bus_);
        bus_ = nullptr;
        return false;
    }
    TakeDelayLock(warning);
    return true;
}

int LogindWatch::Fd() const {
    return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1;
}

short LogindWatch::Events() const {
    const int events = bus_ != nullptr ? sd_bus_get_events(bus_) : 0;
    return static_cast<short>(events < 0 ? 0 : events);
}

int LogindWatch::TimeoutMs() const {
    std::uint64_t until = 0;
    if (bus_ == nullptr || sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX) {
        return -1;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
                                static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
    if (until <= nowUs) {
        return 0;
    }
    const std::uint64_t ms = (until - nowUs + 999) / 1000;
    return ms > 60000 ? 60000 : static_cast<int>(ms);
}

void LogindWatch::Process() {
    if (bus_ == nullptr) {
        return;
    }
    while (sd_bus_process(bus_, nullptr) > 0) {
    }
}

int LogindWatch::OnSleep(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* watch = static_cast<LogindWatch*>(self);
    int start = 0;
    if (sd_bus_message_read(message, "b", &start) < 0) {
        return 0;
    }
    if (watch->handlers_.sleep) {
        watch->handlers_.sleep(start != 0);
    }
    if (start != 0) {
        watch->ReleaseDelayLock();  // the screen is written: the machine may sleep now
    } else {
        std::string ignored;
        watch->TakeDelayLock(ignored);
    }
    return 0;
}

int LogindWatch::OnShutdown(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* watch = static_cast<LogindWatch*>(self);
    int start = 0;
    if (sd_bus_message_read(message, "b", &start) < 0) {
        return 0;
    }
    if (watch->handlers_.shutdown) {
        watch->handlers_.shutdown(start != 0);
    }
    if (start != 0) {
        watch->ReleaseDelayLock();
    } else {
        std::string ignored;
        watch->TakeDelayLock(ignored);
    }
    return 0;
}

bool LogindWatch::TakeDelayLock(std::string& why) {
    if (inhibitFd_ >= 0) {
        return true;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, kLogindName, kLogindPath, kManagerInterface, "Inhibit", &error,
                               &reply, "ssss", "sleep:shutdown", "lumarad",
                               "Showing the front panel's standby or shutdown screen", "delay");
    int fd = -1;
    if (r >= 0) {
        r = sd_bus_message_read(reply, "h", &fd);
    }
    if (r >= 0) {
        inhibitFd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    }
    if (r < 0 || inhibitFd_ < 0) {
        why = std::string("logind gives no delay lock (") +
              (error.message != nullptr ? error.message : std::strerror(r < 0 ? -r : errno)) +
              "): the machine may sleep before the panel shows it";
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return inhibitFd_ >= 0;
}

void LogindWatch::ReleaseDelayLock() {
    if (inhibitFd_ >= 0) {
        close(inhibitFd_);
        inhibitFd_ = -1;
    }
}

}  // namespace zelk
