// How the status sink turns a value's text (already in the ANSI code page) into the record it
// writes on the panel pipe, and the lines of its diagnostic log. No OS calls: the code page's
// lead-byte test comes in as a function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/pipe_message.h"

namespace zelk {

// True when `byte` starts a double-byte character in the code page the text is in.
using LeadBytePredicate = bool (*)(unsigned char byte);

// The most bytes a record's text holds before its terminator.
inline constexpr std::size_t kRecordTextLimit = kPipeTextSize - 1;

// Length of the part of `text` that fits in `limit` bytes without splitting a character: the
// text is walked character by character (a lead byte and the byte after it count as one
// character; a lead byte in the last position stands alone), and the walk stops before the
// first character that would end past `limit`. A null `isLeadByte` treats every byte as a
// character of its own. Returns at most `length`.
std::size_t CutOnCharacterBoundary(const char* text, std::size_t length, std::size_t limit,
                                   LeadBytePredicate isLeadByte);

// The text a record carries for `length` converted bytes: up to the first NUL among them, then
// cut to 255 bytes on a character boundary. A null `text` is an empty text.
std::string_view RecordText(const char* text, std::size_t length, LeadBytePredicate isLeadByte);

// The record for one value: session number, tag, and RecordText of the converted bytes.
PipeMessage MakeValueRecord(std::int32_t sessionNumber, std::int32_t tag, const char* text,
                            std::size_t length, LeadBytePredicate isLeadByte);

// Diagnostic log lines, each ending in CR LF:
//   "Session 2: MSPROPTAG_TrackName = Blue Train"  for a forwarded change,
//   "Closing Session 2"                             for a session's close.
// A tag without a name appears as its decimal digits.
std::string ChangeLogLine(std::int32_t sessionNumber, std::int32_t tag, std::string_view text);
std::string CloseLogLine(std::int32_t sessionNumber);

}  // namespace zelk
