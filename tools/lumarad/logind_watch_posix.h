// Suspend, resume and shutdown notices from logind on the system bus. Holds a delay inhibitor
// so that the panel's screen is written before the machine sleeps or goes down.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <systemd/sd-bus.h>

namespace zelk {

class LogindWatch {
  public:
    // `start` is true before the machine sleeps (shuts down) and false after it resumed (when
    // a shutdown was cancelled).
    struct Handlers {
        std::function<void(bool start)> sleep;
        std::function<void(bool start)> shutdown;
    };

    LogindWatch() = default;
    ~LogindWatch();
    LogindWatch(const LogindWatch&) = delete;
    LogindWatch& operator=(const LogindWatch&) = delete;

    // Connects to the system bus and subscribes. False, with `why` set, when there is no
    // system bus; `warning` is set when the bus is there but the delay lock cannot be taken.
    bool Connect(Handlers handlers, std::string& why, std::string& warning);

    // For poll(): the bus's descriptor and events, and how long poll may wait (-1: no limit).
    int Fd() const;
    short Events() const;
    int TimeoutMs() const;
    // Handles everything that arrived.
    void Process();

  private:
    static int OnSleep(sd_bus_message* message, void* self, sd_bus_error* error);
    static int OnShutdown(sd_bus_message* message, void* self, sd_bus_error* error);
    bool TakeDelayLock(std::string& why);
    void ReleaseDelayLock();

    sd_bus* bus_ = nullptr;
    sd_bus_slot* sleepSlot_ = nullptr;
    sd_bus_slot* shutdownSlot_ = nullptr;
    Handlers handlers_;
    int inhibitFd_ = -1;
};

}  // namespace zelk
