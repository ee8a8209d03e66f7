#include "Quillon/sink_log_win32.h"

#include <mutex>
#include <string>

#include "common/win_handles_win32.h"

namespace zelk {

namespace {

// Every sink and session of the process writes through handles to the same file: one rotation
// at a time, and the size is read again under the lock.
std::mutex g_rotation;

// "<temporary folder>\<name>", as the sink forms the log's path; empty when it does not fit.
std::wstring TempFilePath(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder, length) + name;
    return length == 0 || path.size() + 1 > MAX_PATH ? std::wstring() : path;
}

bool FileSize(HANDLE file, ULONGLONG& size) {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(file, &value)) return false;
    size = static_cast<ULONGLONG>(value.QuadPart);
    return true;
}

// Copies the log into "zelkmsas.old" and empties it. The log stays open everywhere (the sink
// and its sessions share it), so its contents are copied through a reading handle and then cut
// off through the writing one; every writer seeks to the end before it writes.
void Rotate(HANDLE log) {
    const std::wstring current = TempFilePath(kSinkLogName);
    const std::wstring old = TempFilePath(kSinkLogOldName);
    if (current.empty() || old.empty()) return;
    const UniqueFileHandle source(CreateFileW(current.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) return;
    const UniqueFileHandle target(CreateFileW(old.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    bool copied = target.Valid();
    char buffer[64 * 1024];
    DWORD read = 0;
    while (copied && ReadFile(source.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        DWORD written = 0;
        copied = WriteFile(target.Get(), buffer, read, &written, nullptr) && written == read;
    }
    if (!copied) return;  // the log keeps its contents rather than lose them
    LARGE_INTEGER start = {};
    if (SetFilePointerEx(log, start, nullptr, FILE_BEGIN)) SetEndOfFile(log);
}

}  // namespace

void AppendToSinkLog(HANDLE log, const char* text, DWORD length) {
    ULONGLONG size = 0;
    if (FileSize(log, size) && size + length > kSinkLogLimit) {
        std::lock_guard<std::mutex> guard(g_rotation);
        if (FileSize(log, size) && size + length > kSinkLogLimit) Rotate(log);
    }
    LARGE_INTEGER end = {};
    SetFilePointerEx(log, end, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(log, text, length, &written, nullptr);
}

}  // namespace zelk
