#include "Quillon/record_text.h"

#include <cstring>

#include "common/media_status_tags.h"

namespace zelk {

std::size_t CutOnCharacterBoundary(const char* text, std::size_t length, std::size_t limit,
                                   LeadBytePredicate isLeadByte) {
    if (text == nullptr) {
        return 0;
    }
    std::size_t position = 0;
    while (position < length) {
        std::size_t step = 1;
        if (isLeadByte != nullptr && position + 1 < length &&
            isLeadByte(static_cast<unsigned char>(text[position]))) {
            step = 2;
        }
        if (position + step > limit) {
            break;
        }
        position += step;
    }
    return position;
}

std::string_view RecordText(const char* text, std::size_t length, LeadBytePredicate isLeadByte) {
    if (text == nullptr || length == 0) {
        return {};
    }
    const void* nul = std::memchr(text, 0, length);
    const std::size_t untilNul =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : length;
    return {text, CutOnCharacterBoundary(text, untilNul, kRecordTextLimit, isLeadByte)};
}

PipeMessage MakeValueRecord(std::int32_t sessionNumber, std::int32_t tag, const char* text,
                            std::size_t length, LeadBytePredicate isLeadByte) {
    const std::string_view cut = RecordText(text, length, isLeadByte);
    return MakePipeMessage(sessionNumber, tag, cut.data(), cut.size());
}

std::string ChangeLogLine(std::int32_t sessionNumber, std::int32_t tag, std::string_view text) {
    std::string line = "Session " + std::to_string(sessionNumber) + ": " + TagName(tag) + " = ";
    line.append(text);
    line += "\r\n";
    return line;
}

std::string CloseLogLine(std::int32_t sessionNumber) {
    return "Closing Session " + std::to_string(sessionNumber) + "\r\n";
}

}  // namespace zelk
