// Brevick: installs the drivers of the front panel's HID collections from the INF files in the
// current directory. No window, no options; the exit code is its only report.
#include <windows.h>

#include "common/win_handles_win32.h"
#include "tools/installer/driver_install.h"
#include "tools/installer/system_win32.h"

namespace {

constexpr char kInstallerMutexName[] = "InstallVantroINF";

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Only one installer at a time: a second one leaves the running one to finish and reports
    // nothing to do.
    const zelk::UniqueKernelHandle mutex(CreateMutexA(nullptr, TRUE, kInstallerMutexName));
    const DWORD create_error = GetLastError();
    if (!mutex) {
        // A mutex of that name held by another user's installer cannot be opened here.
        return create_error == ERROR_ACCESS_DENIED ? 0 : zelk::InstallerExitCode(false);
    }
    if (create_error == ERROR_ALREADY_EXISTS) {
        return 0;
    }

    zelk::Win32DriverInstallSystem system;
    const bool installed = zelk::InstallPanelDrivers(system);

    ReleaseMutex(mutex.Get());
    return zelk::InstallerExitCode(installed);
}
