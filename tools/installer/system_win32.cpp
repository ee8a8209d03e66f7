// The installer's system services: the C runtime's current directory, SetupAPI and newdev.
#include "tools/installer/system_win32.h"

#include <windows.h>
#include <direct.h>
#include <setupapi.h>
#include <newdev.h>

#include <vector>

namespace zelk {

std::optional<std::string> Win32DriverInstallSystem::CurrentDirectory(std::size_t room) {
    std::vector<char> buffer(room + 1, '\0');
    if (room == 0 || _getcwd(buffer.data(), static_cast<int>(room)) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer.data());
}

bool Win32DriverInstallSystem::CopyInf(const std::string& inf_path, const std::string& source_dir) {
    char destination[kInstallerPathBuffer] = {};
    return SetupCopyOEMInfA(inf_path.c_str(), source_dir.c_str(), SPOST_NONE, 0, destination,
                            sizeof(destination), nullptr, nullptr) != FALSE;
}

int Win32DriverInstallSystem::UpdateDriver(const char* hardware_id, const std::string& inf_path,
                                           std::uint32_t flags) {
    return UpdateDriverForPlugAndPlayDevicesA(GetDesktopWindow(), hardware_id, inf_path.c_str(),
                                              flags, nullptr);
}

std::uint32_t Win32DriverInstallSystem::LastError() {
    return GetLastError();
}

}  // namespace zelk
