// The sink's diagnostic log "zelkmsas.txt" in the user's temporary folder: appends that keep it
// under a size limit by moving its contents to "zelkmsas.old" first.
#pragma once

#include <windows.h>

namespace zelk {

inline constexpr wchar_t kSinkLogName[] = L"zelkmsas.txt";
inline constexpr wchar_t kSinkLogOldName[] = L"zelkmsas.old";
inline constexpr ULONGLONG kSinkLogLimit = 1024 * 1024;

// Appends `length` bytes at the end of the log open as `log` (GENERIC_WRITE). When they would
// take it past kSinkLogLimit, its contents go to "zelkmsas.old" (replacing an older one) and
// the log starts afresh before the append. A rotation that cannot be done leaves the log as it
// is and appends all the same.
void AppendToSinkLog(HANDLE log, const char* text, DWORD length);

}  // namespace zelk
