// What DisplayProps.xml says about the panel, as one value. The defaults describe the panel the
// service was made for (two rows of twelve columns); the file replaces them at start-up.
#pragma once

#include <cstdint>

namespace zelk {

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
};

}  // namespace zelk
