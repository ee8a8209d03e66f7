// The failure texts of the service host: message formats with "%1" and "%2" filled in, and the
// error text "<code>, <system text>" that both the messages and the events carry.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace zelk {

inline constexpr std::uint32_t kMsgErrorPair = 15;  // "%1, %2"

// `format` with each "%1" to "%9" replaced by the insertion of that number (a number with no
// insertion gives the empty text). Any other "%" stays as it is. Insertions are not scanned.
std::string FillInsertions(const std::string& format, std::initializer_list<std::string> inserts);

// The error code as "%d" gives it (codes above 0x7FFFFFFF come out negative).
std::string ErrorCodeDecimal(std::uint32_t error);

// The text a failure carries. `pairFormat` is string 15 ("%1, %2"), `messageFormat` the
// string of the failing step, `systemText` the system's description of `error` (may be empty).
// For the event log: the pair filled with the decimal code and the system text; otherwise the
// message format with its "%1" replaced by that same pair.
std::string ComposeErrorText(const std::string& pairFormat, const std::string& messageFormat,
                             std::uint32_t error, const std::string& systemText, bool forEventLog);

}  // namespace zelk
