// Pieces shared by the platform text converters.
#pragma once

#include <cstdint>

#include "common/win_codes.h"

namespace zelk::detail {

// Copies the source unchanged, as many bytes as fit, when no converter is ready. Updates both
// counts to the bytes copied and returns S_FALSE.
HResult CopyUnconverted(const char* source, std::uint32_t& sourceLength, char* destination,
                        std::uint32_t& destinationCapacity);

// HRESULT of ERROR_INSUFFICIENT_BUFFER: the destination filled up before the source ended.
inline constexpr HResult kEInsufficientBuffer = HResultFromWin32(kErrorInsufficientBuffer);

// The checks every Convert starts with: a null pointer with a non-zero count gives E_POINTER,
// an empty source S_OK and an empty destination kEInsufficientBuffer. Each sets both counts to
// 0 and returns true; false means the conversion has work to do.
bool RejectOrFinishEarly(const char* source, std::uint32_t& sourceLength, char* destination,
                         std::uint32_t& destinationCapacity, HResult& result);

}  // namespace zelk::detail
