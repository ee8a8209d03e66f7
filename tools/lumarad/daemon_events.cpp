#include "tools/lumarad/daemon_events.h"

#include <cstdio>

#include "service/core/lumara_service.h"

namespace zelk {

std::string DaemonEventText(std::uint32_t eventId, const std::string& insertion) {
    struct Message {
        std::uint32_t id;
        const char* format;  // "%1" is the insertion
    };
    // The same texts as the Windows event message library.
    static const Message messages[] = {
        {kEventServiceStarted, "%1 started."},
        {kEventServiceStopped, "%1 stopped."},
        {kEventPropsNotLoaded,
         "%1: the display properties file DisplayProps.xml is missing or could not be read; the "
         "service stops."},
        {kEventPanelNotFound,
         "%1: no front panel with the configured vendor and product id is connected; the "
         "service stops."},
    };
    std::string format = "%1";
    for (const Message& m : messages) {
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
