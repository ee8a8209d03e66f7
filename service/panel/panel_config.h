// What DisplayProps.xml says about the panel, as one value. The defaults describe the panel the
// service was made for (two rows of twelve columns); the file replaces them at start-up.
#pragma once

#include <cstdint>

namespace zelk {

// When the panel is dimmed below its normal brightness (the Dimming element of the file). Each
// level is a ceiling: the panel shows the lowest of the normal brightness and the ceilings that
// apply, so a dim never makes the panel brighter than the normal level.
struct DimmingConfig {
    // Idle: no media playing, no control and no change of the picture for `idleAfterMs`.
    bool idle = false;
    std::uint32_t idleAfterMs = 0;
    std::uint8_t idleLevel = 0;
    // Video: while a video mode plays.
    bool video = false;
    std::uint8_t videoLevel = 0;
    // Night: from `nightFromMs` to `nightUntilMs` local time (ms since midnight; a window whose
    // start is later than its end crosses midnight).
    bool night = false;
    std::uint32_t nightFromMs = 0;
    std::uint32_t nightUntilMs = 0;
    std::uint8_t nightLevel = 0;
    // Standby: the darkest brightness once the standby screen is up.
    bool blankInStandby = false;

    bool Any() const { return idle || video || night || blankInStandby; }
};

struct PanelConfig {
    std::uint16_t vendorId = 0x1F3C;   // matched when the panel is opened
    std::uint16_t productId = 0x5A41;  // matched when the panel is opened
    std::int16_t displayRows = 2;      // held as the panel's description; nothing reads it
    std::int16_t displayColumns = 12;  // the width of every text line written
    bool colorDisplay = false;         // description only
    bool scrolling = false;            // description only
    std::int32_t volumeControl = 0;    // description only
    std::int32_t brightness = 0;       // its low byte is sent once, when the panel starts
    std::int32_t displayType = 0;      // 0 alphanumeric, 1 graphic; description only
    DimmingConfig dimming;             // none unless the file asks for it
};

}  // namespace zelk
