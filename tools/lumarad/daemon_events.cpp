#include "tools/lumarad/daemon_events.h"

#include <cstdint>

namespace zelk {
namespace {

// The severities of the event messages: the top two bits of an event id.
enum class EventSeverity : std::uint32_t {
    Success = 0x0,
    Informational = 0x1,
    Warning = 0x2,
    Error = 0x3,
};

struct EventMessage {
    std::uint32_t id;
    const char* format;  // "%1" is the insertion
};

// The texts of the Windows event message library, from the same list.
constexpr EventMessage kEventMessages[] = {
#define EVENT_MESSAGE(code, severity, symbol, text) \
    {(static_cast<std::uint32_t>(EventSeverity::severity) << 30) | code, text},
#include "service/core/event_messages.def"
#undef EVENT_MESSAGE
};

}  // namespace

std::string DaemonEventText(std::uint32_t eventId, const std::string& insertion) {
    std::string format = "%1";
    for (const EventMessage& m : kEventMessages) {
        if (m.id == eventId) {
            format = m.format;
        }
    }
    const std::size_t at = format.find("%1");
    if (at != std::string::npos) {
        format.replace(at, 2, insertion);
    }
    return format;
}

}  // namespace zelk
