// The service's string table: the failure messages (ids 1 to 24) and the panel texts (25 to 32).
// Both come from one list, service/core/service_strings.def: on Windows it makes the string
// resources of the executable (service/host/lumara_strings.rc, which every Windows program of the
// service links); elsewhere it is built in (panel_texts_posix.cpp).
#pragma once

#include <cstddef>

namespace zelk {

inline constexpr int kTextChannel = 25;     // "Channel %d"
inline constexpr int kTextTrack = 26;       // "Track %d/%d"
inline constexpr int kTextStartingUp = 27;  // "Starting Up"
inline constexpr int kTextPreparing = 28;   // "Preparing"
inline constexpr int kTextToStandby = 29;   // "to standby..."
inline constexpr int kTextShutdown = 30;    // "shutdown..."
inline constexpr int kTextService = 31;     // "Service"
inline constexpr int kTextStopping = 32;    // "stopping..."

// Copies string `id` into `buffer` (NUL-terminated, cut to fit); returns its length, 0 when the
// table has no such string (the buffer then holds the empty text).
std::size_t LoadServiceString(int id, char* buffer, std::size_t size);

}  // namespace zelk
