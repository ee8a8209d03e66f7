// The abilities the panel needs from the HID layer: list present interfaces, open one for
// reading and writing, read its vendor and product id, read its output report length, write
// one output report synchronously, close it (destruction), and wait for interfaces to arrive.
// One backend file per platform (SetupAPI/HID on Windows, hidraw on Linux) plus the in-memory
// virtual panel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "service/adapters/clock.h"

namespace zelk {

class HidDevice {
  public:
    virtual ~HidDevice() = default;  // closes the device
    // Vendor and product id; false when they cannot be read.
    virtual bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) = 0;
    // Output report length in bytes, report id included: 0, or a system error code (never 0 on
    // failure).
    virtual std::uint32_t GetOutputReportLength(std::uint16_t& length) = 0;
    // Writes one output report synchronously: 0, or a system error code (never 0 on failure).
    virtual std::uint32_t Write(const std::uint8_t* data, std::size_t length) = 0;
};

class HidBus {
  public:
    virtual ~HidBus() = default;
    // Device paths of the present HID interfaces, in enumeration order.
    virtual std::vector<std::string> EnumerateInterfaces() = 0;
    // Opens one interface for reading and writing, sharing both; null when it cannot be opened.
    virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;

    // Waits up to `timeoutMs` for a notice that an interface may have arrived: true on one (the
    // caller enumerates again), false when the time passed or the wait was cancelled. A bus
    // with notices sets up its watch at the first call and returns true at once, so that the
    // enumeration after it finds whatever came before the watch. Called from one thread at a
    // time. This default has no notices and only waits out the time.
    virtual bool WaitForArrival(std::uint32_t timeoutMs) {
        cancelled_.WaitFor(timeoutMs);
        return false;
    }
    // From any thread: ends the wait in progress and every later one at once, for good.
    virtual void CancelArrivalWait() { cancelled_.Set(); }

  private:
    StopSignal cancelled_;
};

// The platform's HID bus (SetupAPI and HID on Windows, /sys/class/hidraw on Linux).
std::unique_ptr<HidBus> CreateSystemHidBus();

}  // namespace zelk
