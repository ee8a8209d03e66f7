#include "common/value_readers.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

namespace zelk {

namespace {

// The C locale's white space, fixed here so that no locale setting changes what is skipped.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const char* SkipSpace(const char* p) {
    while (IsSpace(*p)) ++p;
    return p;
}

// Reads an optional sign; returns true for '-'.
bool ReadSign(const char*& p) {
    if (*p == '+' || *p == '-') {
        return *p++ == '-';
    }
    return false;
}

// Accumulates digits of `base` from `p`, stopping at the first other character. The magnitude is
// capped just above the 32-bit range so that it cannot overflow however many digits follow.
std::int32_t AccumulateSaturated(const char* p, bool negative, int base) {
    constexpr std::int64_t kCap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (int d = HexDigitValue(*p); d >= 0 && d < base; d = HexDigitValue(*++p)) {
        magnitude = magnitude * base + d;
        if (magnitude > kCap) magnitude = kCap;
    }
    if (negative) {
        return static_cast<std::int32_t>(-magnitude);  // -kCap is exactly INT32_MIN
    }
    return magnitude >= kCap ? std::numeric_limits<std::int32_t>::max()
                             : static_cast<std::int32_t>(magnitude);
}

}  // namespace

bool ReadTruth(const char* text) {
    return text != nullptr && (text[0] == 'T' || text[0] == 't');
}

std::int32_t ReadInteger(const char* text) {
    if (text == nullptr) return 0;
    const char* p = SkipSpace(text);
    const bool negative = ReadSign(p);
    return AccumulateSaturated(p, negative, 10);
}

std::int32_t ReadHexInteger(const char* text) {
    if (text == nullptr) return 0;
    const char* p = SkipSpace(text);
    const bool negative = ReadSign(p);
    // The prefix counts only when a hexadecimal digit follows it; "0x" alone reads as the 0.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigitValue(p[2]) >= 0) {
        p += 2;
    }
    return AccumulateSaturated(p, negative, 16);
}

double ReadReal(const char* text) {
    if (text == nullptr) return 0.0;
    const char* p = SkipSpace(text);
    const bool negative = ReadSign(p);

    // The mantissa: digits with at most one decimal point, at least one digit in all.
    std::string number;
    bool anyDigit = false;
    bool nonZeroDigit = false;
    // Decimal order of the leading non-zero digit relative to the point, for telling an overflow
    // from an underflow: positive means the mantissa is at least 1.
    std::int64_t order = 0;
    bool seenPoint = false;
    for (;; ++p) {
        if (IsDigit(*p)) {
            anyDigit = true;
            if (*p != '0' && !nonZeroDigit) nonZeroDigit = true;
            if (nonZeroDigit && !seenPoint) ++order;
            if (!nonZeroDigit && seenPoint) --order;
            number.push_back(*p);
        } else if (*p == '.' && !seenPoint) {
            seenPoint = true;
            number.push_back('.');
        } else {
            break;
        }
    }
    if (!anyDigit) return 0.0;

    // The exponent counts only with at least one digit; otherwise the number ends before the 'e'.
    std::int64_t exponent = 0;
    if (*p == 'e' || *p == 'E') {
        const char* e = p + 1;
        const bool negativeExponent = ReadSign(e);
        if (IsDigit(*e)) {
            constexpr std::int64_t kExponentCap = 1'000'000'000;
            for (; IsDigit(*e); ++e) {
                exponent = exponent * 10 + (*e - '0');
                if (exponent > kExponentCap) exponent = kExponentCap;
            }
            if (negativeExponent) exponent = -exponent;
        }
    }
    if (!nonZeroDigit) return negative ? -0.0 : 0.0;
    if (exponent != 0) {
        number.push_back('e');
        number += std::to_string(exponent);
    }

    // The accepted characters are converted without the C library's locale-dependent reader.
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Too large saturates at the largest finite value; too small is zero.
        value = order + exponent > 0 ? std::numeric_limits<double>::max() : 0.0;
    } else if (error != std::errc{}) {
        value = 0.0;
    }
    return negative ? -value : value;
}

}  // namespace zelk
