// Suspend, resume and shutdown notices from logind on the system bus, on an sd-event loop.
// Holds a delay inhibitor so that the panel's screen is written before the machine sleeps or
// goes down.
#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <functional>
#include <string>

#include "common/posix_handles.h"

namespace zelk {

class LogindWatch {
  public:
    enum class Notice { kSleep, kShutdown };
    // `start` is true before the machine sleeps (shuts down) and false after it resumed (when
    // a shutdown was cancelled).
    using Handler = std::function<void(Notice notice, bool start)>;
    // What a refused delay lock means; said once per watch.
    using Warn = std::function<void(const std::string& text)>;

    LogindWatch() = default;
    LogindWatch(const LogindWatch&) = delete;
    LogindWatch& operator=(const LogindWatch&) = delete;

    // Connects to the system bus on `event`, subscribes to both notices and takes the delay
    // lock. False, with `why` set, when there is no system bus.
    bool Connect(sd_event* event, Handler handler, Warn warn, std::string& why);

  private:
    static int OnPrepare(sd_bus_message* message, void* self, sd_bus_error* error);
    void TakeDelayLock();

    UniqueRef<sd_bus, sd_bus_flush_close_unref> bus_;
    UniqueRef<sd_bus_slot, sd_bus_slot_unref> sleepSlot_;
    UniqueRef<sd_bus_slot, sd_bus_slot_unref> shutdownSlot_;
    Handler handler_;
    Warn warn_;
    bool warned_ = false;
    UniqueFd delayLock_;
};

}  // namespace zelk
