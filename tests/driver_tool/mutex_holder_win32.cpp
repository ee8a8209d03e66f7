// Test helper: holds the installer's single-instance mutex, as a running installer would.
// Creates "holder.ready" in its current directory once it owns the mutex and lets go when
// "holder.stop" appears there (or after a minute, so a broken test cannot leave it behind).
#include <windows.h>

int main() {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "InstallVantroINF");
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 2;

    HANDLE ready = CreateFileA("holder.ready", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 3;
    CloseHandle(ready);

    for (int waited_ms = 0; waited_ms < 60000; waited_ms += 20) {
        if (GetFileAttributesA("holder.stop") != INVALID_FILE_ATTRIBUTES) break;
        Sleep(20);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}
