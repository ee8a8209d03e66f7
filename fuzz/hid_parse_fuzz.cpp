// The hidraw parsers: a report descriptor's output length, and the ids of a uevent text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/panel/panel_hid_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::OutputReportLengthFromDescriptor(data, size);
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    zelk::ParseUeventHidId(std::string(reinterpret_cast<const char*>(data), size), vendor, product);
    return 0;
}
