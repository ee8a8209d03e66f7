// Pure parsers for what the Linux HID layer tells about a device: the ids in a uevent text and
// the output report length implied by a report descriptor. Kept free of OS calls so that they
// are tested on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelk {

// Reads the "HID_ID=bus:vendor:product" line of a uevent text (hexadecimal fields). False
// when the line is missing, malformed, or an id does not fit 16 bits.
bool ParseUeventHidId(const std::string& uevent, std::uint16_t& vendorId, std::uint16_t& productId);

// The length of the longest output report the descriptor declares, in bytes, plus one for the
// report id byte (the byte is always counted, as the HID class driver does). 0 when the
// descriptor declares no output report, or one whose length does not fit 16 bits (such a device
// is not written to). A truncated descriptor is read up to its last whole item.
std::uint16_t OutputReportLengthFromDescriptor(const std::uint8_t* descriptor, std::size_t size);

}  // namespace zelk
