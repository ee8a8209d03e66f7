#include "common/pipe_message.h"

#include <cstring>

namespace zelk {

namespace {

std::int32_t ReadLittleEndian32(const unsigned char* p) {
    const std::uint32_t v =
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(v);
}

}  // namespace

bool ReadPipeRecord(const void* bytes, std::size_t count, PipeMessage& out) {
    std::memset(&out, 0, sizeof out);
    if (bytes == nullptr || count < kPipeHeaderSize) {
        return false;
    }
    const auto* p = static_cast<const unsigned char*>(bytes);
    out.sessionNumber = ReadLittleEndian32(p);
    out.tag = ReadLittleEndian32(p + 4);

    std::size_t available = count - kPipeHeaderSize;
    if (available > kPipeTextSize - 1) {
        available = kPipeTextSize - 1;
    }
    const void* nul = std::memchr(p + kPipeHeaderSize, 0, available);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) -
                                       (p + kPipeHeaderSize))
            : available;
    std::memcpy(out.text, p + kPipeHeaderSize, length);
    out.text[length] = '\0';
    return true;
}

PipeMessage MakePipeMessage(std::int32_t sessionNumber, std::int32_t tag, const char* text,
                            std::size_t textLength) {
    PipeMessage m{};
    m.sessionNumber = sessionNumber;
    m.tag = tag;
    if (text != nullptr) {
        const void* nul = std::memchr(text, 0, textLength);
        std::size_t length =
            nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : textLength;
        if (length > kPipeTextSize - 1) {
            length = kPipeTextSize - 1;
        }
        std::memcpy(m.text, text, length);
    }
    return m;
}

}  // namespace zelk
