// The readers of record and property values, on any NUL-terminated text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/value_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    zelk::ReadTruth(text.c_str());
    zelk::ReadInteger(text.c_str());
    zelk::ReadReal(text.c_str());
    zelk::ReadHexInteger(text.c_str());
    return 0;
}
