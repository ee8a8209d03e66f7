#include "service/panel/panel_hid_parse.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

namespace zelk {
namespace {

// Parses the 1 to 8 hexadecimal characters of [begin, end); false on anything else.
bool ParseHexField(const std::string& text, std::size_t begin, std::size_t end,
                   std::uint32_t& value) {
    if (begin >= end || end - begin > 8) {
        return false;
    }
    std::uint32_t result = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c)) {
            return false;
        }
        const std::uint32_t digit =
            std::isdigit(c) ? c - '0' : static_cast<std::uint32_t>(std::tolower(c) - 'a' + 10);
        result = (result << 4) | digit;
    }
    value = result;
    return true;
}

// Output bits past this make a report longer than any length the HID stack can give; sums
// stop here instead of wrapping.
constexpr std::uint64_t kBitsPastAnyLength = (std::uint64_t{0xFFFF} + 1) * 8;

// Global items that the output length depends on.
struct GlobalState {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

}  // namespace

bool ParseUeventHidId(const std::string& uevent, std::uint16_t& vendorId,
                      std::uint16_t& productId) {
    static const std::string kKey = "HID_ID=";
    std::size_t lineStart = 0;
    while (lineStart < uevent.size()) {
        std::size_t lineEnd = uevent.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = uevent.size();
        }
        if (uevent.compare(lineStart, kKey.size(), kKey) == 0) {
            const std::size_t busStart = lineStart + kKey.size();
            const std::size_t firstColon = uevent.find(':', busStart);
            if (firstColon == std::string::npos || firstColon >= lineEnd) {
                return false;
            }
            const std::size_t secondColon = uevent.find(':', firstColon + 1);
            if (secondColon == std::string::npos || secondColon >= lineEnd) {
                return false;
            }
            std::uint32_t bus = 0;
            std::uint32_t vendor = 0;
            std::uint32_t product = 0;
            if (!ParseHexField(uevent, busStart, firstColon, bus) ||
                !ParseHexField(uevent, firstColon + 1, secondColon, vendor) ||
                !ParseHexField(uevent, secondColon + 1, lineEnd, product)) {
                return false;
            }
            if (vendor > 0xFFFF || product > 0xFFFF) {
                return false;
            }
            vendorId = static_cast<std::uint16_t>(vendor);
            productId = static_cast<std::uint16_t>(product);
            return true;
        }
        lineStart = lineEnd + 1;
    }
    return false;
}

std::uint16_t OutputReportLengthFromDescriptor(const std::uint8_t* descriptor, std::size_t size) {
    if (descriptor == nullptr) {
        return 0;
    }
    GlobalState state;
    std::vector<GlobalState> stack;
    std::map<std::uint32_t, std::uint64_t> outputBits;  // per report id

    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t prefix = descriptor[pos];
        if (prefix == 0xFE) {
            // Long item: data size, tag, data. No long item matters for the length.
            if (pos + 2 >= size) {
                break;
            }
            const std::size_t dataSize = descriptor[pos + 1];
            if (pos + 3 + dataSize > size) {
                break;
            }
            pos += 3 + dataSize;
            continue;
        }
        const std::size_t dataSize = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        if (pos + 1 + dataSize > size) {
            break;
        }
        std::uint32_t data = 0;
        for (std::size_t i = 0; i < dataSize; ++i) {
            data |= static_cast<std::uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
        }
        switch (prefix & 0xFC) {
            case 0x74:  // Report Size
                state.reportSize = data;
                break;
            case 0x94:  // Report Count
                state.reportCount = data;
                break;
            case 0x84:  // Report ID
                state.reportId = data;
                break;
            case 0xA4:  // Push
                stack.push_back(state);
                break;
            case 0xB4:  // Pop
                if (!stack.empty()) {
                    state = stack.back();
                    stack.pop_back();
                }
                break;
            case 0x90: {  // Output
                // 32 x 32 bits fit 64; the sum is held at the cap.
                const std::uint64_t bits =
                    static_cast<std::uint64_t>(state.reportSize) * state.reportCount;
                std::uint64_t& total = outputBits[state.reportId];
                total = std::min(kBitsPastAnyLength, total + std::min(bits, kBitsPastAnyLength));
                break;
            }
            default:
                break;
        }
        pos += 1 + dataSize;
    }

    if (outputBits.empty()) {
        return 0;
    }
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : outputBits) {
        longest = std::max(longest, (bits + 7) / 8);
    }
    // With the id byte the length must fit 16 bits; a longer report is not one we can write.
    return longest + 1 <= 0xFFFF ? static_cast<std::uint16_t>(longest + 1) : 0;
}

}  // namespace zelk
