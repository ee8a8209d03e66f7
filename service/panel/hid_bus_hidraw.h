// The hidraw bus with its two roots made explicit, so that it can run over a prepared tree.
#pragma once

#include <memory>
#include <string>

#include "service/panel/hid_bus.h"

namespace zelk {

// `classDir` holds one entry per hidraw node (normally /sys/class/hidraw), each with
// device/uevent and device/report_descriptor; the nodes themselves are in `devDir` (/dev).
std::unique_ptr<HidBus> CreateHidrawBus(const std::string& classDir, const std::string& devDir);

}  // namespace zelk
