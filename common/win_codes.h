// Result codes the system's portable code returns: Windows system error codes and HRESULTs,
// spelled out so that code without OS headers can use them.
#pragma once

#include <cstdint>

namespace zelk {

using HResult = std::int32_t;

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorWriteFault = 29;  // a write that did not take the whole record
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorCallNotImplemented = 120;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorTimeout = 1460;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);

inline constexpr HResult HResultFromWin32(std::uint32_t error) {
    return static_cast<int32_t>(error) <= 0 ? static_cast<HResult>(error)
                                            : static_cast<HResult>((error & 0xFFFFu) | 0x80070000u);
}

}  // namespace zelk
