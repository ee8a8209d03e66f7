// The service's event ids: the severity bits and the message number of each line of
// event_messages.def (the message library and lumarad's event texts hold their texts).
#pragma once

#include <cstdint>

namespace zelk {

inline constexpr std::uint32_t kEventIdServiceStarted = 0x40000001u;
inline constexpr std::uint32_t kEventIdInstalled = 0x40000002u;
inline constexpr std::uint32_t kEventIdUninstalled = 0x40000003u;
inline constexpr std::uint32_t kEventIdServiceStopped = 0x40000004u;
inline constexpr std::uint32_t kEventIdServicePaused = 0x40000005u;
inline constexpr std::uint32_t kEventIdServiceContinued = 0x40000006u;
inline constexpr std::uint32_t kEventIdOpenScmFailed = 0xC0000007u;
inline constexpr std::uint32_t kEventIdOpenServiceFailed = 0xC0000008u;
inline constexpr std::uint32_t kEventIdDeleteServiceFailed = 0xC0000009u;
inline constexpr std::uint32_t kEventIdStartFailed = 0xC000000Bu;
inline constexpr std::uint32_t kEventIdStopFailed = 0xC000000Cu;
inline constexpr std::uint32_t kEventIdContinueFailed = 0xC000000Du;
inline constexpr std::uint32_t kEventIdPauseFailed = 0xC000000Eu;
inline constexpr std::uint32_t kEventIdWaitFailed = 0xC000000Fu;
inline constexpr std::uint32_t kEventIdQueryStatusFailed = 0xC0000010u;
inline constexpr std::uint32_t kEventIdPropertiesNotLoaded = 0xC0000012u;
inline constexpr std::uint32_t kEventIdPanelNotFound = 0xC0000013u;
inline constexpr std::uint32_t kEventIdLcdServerNotListening = 0x80000014u;

}  // namespace zelk
