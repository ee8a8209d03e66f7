#include <windows.h>
#include <psapi.h>

#include <utility>

#include "tools/sim/sim_terminal.h"

namespace zelk {

namespace {

std::function<void()>& StopCallback() {
    static std::function<void()> callback;
    return callback;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        StopCallback()();
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void CallOnStopRequest(std::function<void()> onStop) {
    StopCallback() = std::move(onStop);
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

bool StdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

void PrepareTerminal() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace zelk

namespace zelk {

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0.0;
    }
    auto seconds = [](const FILETIME& t) {
        const ULONGLONG ticks = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        return static_cast<double>(ticks) / 1e7;  // 100 ns units
    };
    return seconds(kernel) + seconds(user);
}

ResidentMemory ProcessResidentMemory() {
    ResidentMemory memory;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        memory.now = counters.WorkingSetSize;
        memory.peak = counters.PeakWorkingSetSize;
    }
    return memory;
}

}  // namespace zelk
