// The record that travels on the front-panel pipe: one per connection, written by the status
// sink, read by the service. Shared by both ends.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace zelk {

inline constexpr char kPipeName[] = "ZELK_FRONTPANEL_PIPE";
inline constexpr std::size_t kPipeTextSize = 256;
inline constexpr std::size_t kPipeMessageSize = 264;
inline constexpr std::size_t kPipeHeaderSize = 8;

// Tags the sink sends on its own; neither is a MEDIASTATUSPROPERTYTAG value.
inline constexpr std::int32_t kTagSessionOpened = 1;
inline constexpr std::int32_t kTagSessionClosed = 3;

// Wire layout: little-endian integers, no padding, the text NUL-terminated within its 256 bytes.
struct PipeMessage {
    std::int32_t sessionNumber;
    std::int32_t tag;
    char text[kPipeTextSize];
};

static_assert(std::endian::native == std::endian::little,
              "the record is little-endian on the wire");
static_assert(sizeof(PipeMessage) == kPipeMessageSize);
static_assert(offsetof(PipeMessage, sessionNumber) == 0);
static_assert(offsetof(PipeMessage, tag) == 4);
static_assert(offsetof(PipeMessage, text) == 8);

// Reads one record from the bytes actually received. Fewer than 8 bytes is no record (false).
// The text is the bytes from offset 8 up to the first NUL, within the bytes received and the
// 256-byte text area, at most 255 bytes; `out.text` is always NUL-terminated and zero-filled
// after the text. Nothing past `count` is read.
bool ReadPipeRecord(const void* bytes, std::size_t count, PipeMessage& out);

// Builds the record a writer sends: the text is cut at 255 bytes (callers that must not split
// a double-byte character cut it first) and NUL-terminated; the rest of the area is zero.
PipeMessage MakePipeMessage(std::int32_t sessionNumber, std::int32_t tag, const char* text,
                            std::size_t textLength);

}  // namespace zelk
