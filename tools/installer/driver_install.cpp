#include "tools/installer/driver_install.h"

#include <cstring>

namespace zelk {
namespace {

// A drive's root comes back with its backslash ("C:\\"); other folders without one.
std::string InfPath(const std::string& dir, const char* inf_name) {
    if (dir.back() == '\\' || dir.back() == '/') return dir + inf_name;
    return dir + "\\" + inf_name;
}

// An update fails only when the result is not TRUE and the system gives a reason for it: a
// FALSE result with last error 0 counts as done.
bool UpdateSucceeded(DriverInstallSystem& system, const DriverInstallStep& step,
                     const std::string& inf_path) {
    const int result = system.UpdateDriver(step.hardware_id, inf_path, step.flags);
    if (result == 1) return true;
    return system.LastError() == 0;
}

}  // namespace

bool InstallPanelDrivers(DriverInstallSystem& system) {
    const std::optional<std::string> dir = system.CurrentDirectory(kInstallerCurrentDirRoom);
    if (!dir || dir->empty() || dir->size() >= kInstallerCurrentDirRoom) return false;
    // The longer of the two INF paths must fit the path buffer with its NUL.
    const std::size_t longest_name = std::strlen(kKeyboardInfName) > std::strlen(kPanelInfName)
                                         ? std::strlen(kKeyboardInfName)
                                         : std::strlen(kPanelInfName);
    if (dir->size() + 1 + longest_name + 1 > kInstallerPathBuffer) return false;

    const char* copied_inf = nullptr;
    std::string inf_path;
    for (const DriverInstallStep& step : kDriverInstallSteps) {
        if (copied_inf == nullptr || std::strcmp(copied_inf, step.inf_name) != 0) {
            inf_path = InfPath(*dir, step.inf_name);
            if (!system.CopyInf(inf_path, *dir)) return false;
            copied_inf = step.inf_name;
        }
        if (!UpdateSucceeded(system, step, inf_path)) return false;
    }
    return true;
}

}  // namespace zelk
