// The texts of the service's events, as the daemon writes them to its log.
#pragma once

#include <cstdint>
#include <string>

namespace zelk {

// The event's message with `insertion` in place of its "%1".
std::string DaemonEventText(std::uint32_t eventId, const std::string& insertion);

}  // namespace zelk
