// BrevickLauncher: starts the driver installer from the launcher's own folder, with that folder
// as its current directory, and waits until it has ended. Exit 0 once the installer has run
// (whatever its own result), 1 when it cannot be started.
#include <windows.h>

#include "common/win_handles_win32.h"
#include "tools/launcher/launcher_paths.h"

int main() {
    char own_path[zelk::kLauncherPathBuffer] = {};
    const DWORD length = GetModuleFileNameA(nullptr, own_path, sizeof(own_path));
    if (length == 0 || length >= sizeof(own_path)) return 1;

    const std::optional<zelk::InstallerLaunch> launch = zelk::InstallerLaunchFor(own_path);
    if (!launch) return 1;

    // The installer is named by its full path, so only the copy beside the launcher ever runs;
    // its command line stays the bare file name.
    char command_line[] = "Brevick.exe";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(launch->application.c_str(), command_line, nullptr, nullptr, FALSE, 0,
                        nullptr, launch->folder.c_str(), &startup, &process)) {
        return 1;
    }

    const zelk::UniqueKernelHandle thread(process.hThread);
    const zelk::UniqueKernelHandle child(process.hProcess);
    WaitForSingleObject(child.Get(), INFINITE);
    return 0;
}
