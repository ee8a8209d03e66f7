// How message and property texts are read as values.
#pragma once

#include <cstdint>

namespace zelk {

// True when the first character is 'T' or 't'.
bool ReadTruth(const char* text);
// Optional leading white space, optional sign, decimal digits up to the first other character;
// no digits give 0; values beyond 32 bits saturate at INT32_MIN / INT32_MAX.
std::int32_t ReadInteger(const char* text);
// Optional leading white space, optional sign, digits with an optional decimal point and an
// optional exponent, as far as they form a number; nothing readable gives 0.0 (so "inf", "nan"
// and hexadecimal floats give 0.0). Independent of the C locale.
double ReadReal(const char* text);
// Optional leading white space, optional sign, optional 0x/0X prefix, hexadecimal digits (either
// case) up to the first other character; no digits give 0; saturates like ReadInteger.
std::int32_t ReadHexInteger(const char* text);

}  // namespace zelk
