// Turns a locale's strftime time format into the same format without seconds, the way the
// Windows clock drops them: "%H:%M:%S" gives "%H:%M", "%I:%M:%S %p" gives "%I:%M %p".
#pragma once

#include <string>
#include <string_view>

namespace zelk {

// %T and %r are spelled out first; every seconds field (%S, %OS, %ES) is removed together
// with the literal text that separates it from the conversion before it.
std::string TimeFormatWithoutSeconds(std::string_view format);

}  // namespace zelk
