// LumaraNowPlaying.exe: shows on the front panel what the Windows media session plays (any
// player that publishes to the system's media controls: browsers, Spotify, VLC, the Windows media
// apps), through the panel service's pipe. It runs in each user's session (the setup starts it at
// logon), without a window.
//
//   LumaraNowPlaying.exe             follow the media sessions until --quit or logoff
//   LumaraNowPlaying.exe --quit      end every running copy (all users; the uninstaller's call)
//   LumaraNowPlaying.exe --pipe NAME another pipe (tests)
//   --help, --version                print and exit 0
//
// Process: one copy per user session (the mutex Local\LumaraNowPlaying; a second copy exits 0).
// Each copy waits on the manual-reset event Global\LumaraNowPlayingQuit (SYSTEM and
// Administrators may set it, every signed-in user may wait on it); --quit sets it and returns
// once every copy has closed it (the event then no longer exists), or after kQuitWaitMs.
//
// The main thread is the work thread: it waits on the quit event, the media sessions' work event
// (the system's callbacks post there, see media_sessions_win32.h for the calls and events) and
// the next time NowPlayingCore needs it (the shown session's track time, once a second while it
// plays; a resend while the pipe is away, back-off 250 ms to 4 s). Nothing playing and the pipe
// in step: it waits without a timeout.
//
// Without the media session API (Windows before 10 1809, no activatable class, a failing
// RequestAsync) it traces one line, appends one line to %TEMP%\LumaraNowPlaying.log and exits 0.
// Traces go to the debugger output (OutputDebugString), each starting "LumaraNowPlaying: ".
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/debug_print.h"
#include "common/pipe_client.h"
#include "common/pipe_message.h"
#include "common/win_handles_win32.h"
#include "fp_version.h"
#include "tools/nowplaying/media_sessions_win32.h"
#include "tools/nowplaying/now_playing_core.h"

namespace zelk {
namespace {

constexpr wchar_t kInstanceMutex[] = L"Local\\LumaraNowPlaying";
constexpr wchar_t kQuitEvent[] = L"Global\\LumaraNowPlayingQuit";
// SYSTEM and Administrators: all access; authenticated users: wait only.
constexpr wchar_t kQuitEventSddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100000;;;AU)";
constexpr DWORD kQuitWaitMs = 5000;
constexpr LONG kLogLimitBytes = 64 * 1024;

const char kUsage[] =
    "Usage: LumaraNowPlaying.exe [--pipe NAME] | --quit | --help | --version\n"
    "Shows what the Windows media session plays (any player that uses the system's media\n"
    "controls) on the front panel, through the panel service's pipe. One copy runs in each\n"
    "user's session.\n"
    "\n"
    "  --pipe NAME   the pipe's name (default ZELK_FRONTPANEL_PIPE)\n"
    "  --quit        end every running copy, of every user (needs an administrator when\n"
    "                copies run)\n"
    "  --help        show this help and exit\n"
    "  --version     show the version and exit\n";

// Standard output, or the console of the program that started us (we have no console).
void Print(const char* text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    UniqueFileHandle console;
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
        console.Reset(CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
        out = console.Get();
    }
    DWORD written = 0;
    WriteFile(out, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// One line in %TEMP%\LumaraNowPlaying.log, for users who wonder why the panel shows nothing.
void LogLine(const std::string& text) {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH - 24) return;
    std::wstring path = std::wstring(folder) + L"LumaraNowPlaying.log";
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    if (GetFileSize(file.Get(), nullptr) > static_cast<DWORD>(kLogLimitBytes)) {
        file.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    const std::string line = stamp + text + "\r\n";
    DWORD written = 0;
    WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void NotAvailable(const std::string& why) {
    const std::string text = "LumaraNowPlaying " FP_VERSION_TEXT
                             ": the Windows media sessions are not available (" +
                             why + "); nothing to show, the program ends";
    DebugPrint("%s\n", text.c_str());
    LogLine(text);
}

// The quit event, opened to wait on (or created by the first copy).
UniqueKernelHandle OpenQuitEvent() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueKernelHandle event(OpenEventW(SYNCHRONIZE, FALSE, kQuitEvent));
        if (event) return event;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kQuitEventSddl, SDDL_REVISION_1,
                                                                  &descriptor, nullptr)) {
            break;
        }
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        event.Reset(CreateEventW(&attributes, TRUE, FALSE, kQuitEvent));
        LocalFree(descriptor);
        if (event) return event;
        // Another user's copy made it in between (we may not create-open it): open it.
    }
    DebugPrint("LumaraNowPlaying: no quit event (error %lu); --quit cannot end this copy\n",
               GetLastError());
    return UniqueKernelHandle();
}

int Quit() {
    UniqueKernelHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, kQuitEvent));
    if (!event) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return 0;  // no copy runs
        Print("LumaraNowPlaying: --quit needs an administrator while copies run\n");
        return 1;
    }
    SetEvent(event.Get());
    event.Reset();
    // The event lives while a copy holds it: gone means every copy has ended.
    for (DWORD waited = 0; waited < kQuitWaitMs; waited += 50) {
        UniqueKernelHandle still(OpenEventW(SYNCHRONIZE, FALSE, kQuitEvent));
        if (!still && GetLastError() == ERROR_FILE_NOT_FOUND) return 0;
        still.Reset();
        Sleep(50);
    }
    Print("LumaraNowPlaying: copies still run after --quit\n");
    return 1;
}

class TickClock : public Clock {
  public:
    std::uint64_t NowMs() override { return GetTickCount64(); }
    bool FormatTime(char*, std::size_t) override { return false; }
    bool FormatDate(char*, std::size_t) override { return false; }
};

int Run(const std::string& pipe) {
    UniqueKernelHandle instance(CreateMutexW(nullptr, FALSE, kInstanceMutex));
    if (instance && GetLastError() == ERROR_ALREADY_EXISTS) {
        DebugPrint("LumaraNowPlaying: another copy runs in this session\n");
        return 0;
    }
    UniqueKernelHandle quit = OpenQuitEvent();
    if (quit && WaitForSingleObject(quit.Get(), 0) == WAIT_OBJECT_0) {
        DebugPrint("LumaraNowPlaying: a quit is under way\n");
        return 0;
    }

    TickClock clock;
    NowPlayingCore core(
        [&pipe](std::int32_t session, std::int32_t tag, const std::string& text) {
            const PipeMessage m = MakePipeMessage(session, tag, text.c_str(), text.size());
            return SendPipeRecord(pipe, m) == 0;
        },
        clock);
    MediaSessions sessions(core);
    std::string why;
    if (!sessions.Start(&why)) {
        NotAvailable(why);
        return 0;
    }

    HANDLE waits[2] = {sessions.WorkEvent(), quit.Get()};
    const DWORD count = quit ? 2 : 1;
    bool available = true;
    for (;;) {
        DWORD timeout = sessions.ManagerWaitLeftMs();
        if (const auto at = core.NextWakeMs()) {
            const std::uint64_t now = clock.NowMs();
            const std::uint64_t left = *at > now ? *at - now : 0;
            timeout = static_cast<DWORD>(std::min<std::uint64_t>(left, timeout));
        }
        const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, timeout);
        if (woke == WAIT_OBJECT_0 + 1) {
            DebugPrint("LumaraNowPlaying: quit\n");
            break;
        }
        if (woke == WAIT_FAILED) {
            DebugPrint("LumaraNowPlaying: wait failed (error %lu)\n", GetLastError());
            break;
        }
        if (!sessions.RunPosted(&why)) {
            available = false;
            break;
        }
        core.Wake();
    }
    core.CloseAll();
    sessions.Stop();
    if (!available) NotAvailable(why);
    return 0;
}

int Main(int argc, char** argv) {
    std::string pipe = kPipeName;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            Print(kUsage);
            return 0;
        }
        if (arg == "--version") {
            Print("LumaraNowPlaying " FP_VERSION_TEXT "\n");
            return 0;
        }
        if (arg == "--quit") return Quit();
        if (arg == "--pipe" && i + 1 < argc && argv[i + 1][0] != '\0') {
            pipe = argv[++i];
        } else {
            const std::string text =
                "LumaraNowPlaying: " +
                std::string(arg == "--pipe" ? "--pipe needs a value" : "unknown option") + ": " +
                arg + " (see LumaraNowPlaying.exe --help)\n";
            Print(text.c_str());
            return 2;
        }
    }
    return Run(pipe);
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
    return zelk::Main(argc, argv);
}
