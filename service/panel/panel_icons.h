// The panel's icons by name. Each icon is one bit of its group's byte: the status icons are
// sent in report 5, the media icons in report 6. The icon commands take a signed code: an
// icon's bit sets it, the complement of the bit clears it (`Set(MediaIcon::Cd)` is 8,
// `Clear(MediaIcon::Dvd)` is -33). What a code does to the cached byte is the panel's rule
// (panel_commands.cpp), not this header's.
#pragma once

#include <cstdint>

namespace zelk {

enum class StatusIcon : std::uint8_t {
    Play = 0x01,
    Pause = 0x02,
    FastForward = 0x04,
    Rewind = 0x08,
    Mute = 0x10,
    // 0x20 is not used.
    Recording = 0x40,
    Repeat = 0x80,
};

enum class MediaIcon : std::uint8_t {
    Tv = 0x01,  // television and recorded television
    Photos = 0x02,
    VideoCd = 0x04,  // lit only together with Cd
    Cd = 0x08,
    Audio = 0x10,  // streaming audio and radio
    Dvd = 0x20,
    // 0x40 can be set but is not used; 0x80 is not used.
};

constexpr std::uint8_t Bit(StatusIcon icon) {
    return static_cast<std::uint8_t>(icon);
}
constexpr std::uint8_t Bit(MediaIcon icon) {
    return static_cast<std::uint8_t>(icon);
}

// The icon codes that light and darken an icon.
constexpr std::int32_t Set(StatusIcon icon) {
    return Bit(icon);
}
constexpr std::int32_t Clear(StatusIcon icon) {
    return ~static_cast<std::int32_t>(Bit(icon));
}
constexpr std::int32_t Set(MediaIcon icon) {
    return Bit(icon);
}
constexpr std::int32_t Clear(MediaIcon icon) {
    return ~static_cast<std::int32_t>(Bit(icon));
}
// Set when `lit`, else clear.
constexpr std::int32_t Show(StatusIcon icon, bool lit) {
    return lit ? Set(icon) : Clear(icon);
}

static_assert(Set(MediaIcon::Cd) == 8 && Clear(MediaIcon::Dvd) == -33);
static_assert(Clear(StatusIcon::Repeat) == -129 && Set(StatusIcon::Recording) == 64);

}  // namespace zelk
