// Where the launcher finds the installer: beside itself, never through the search path.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace zelk {

inline constexpr std::size_t kLauncherPathBuffer = 260;  // bytes, NUL included
inline constexpr char kInstallerFileName[] = "Brevick.exe";

struct InstallerLaunch {
    std::string folder;       // the launcher's folder: the installer's current directory
    std::string application;  // full path of the installer beside the launcher
};

// From the launcher's own full path: its folder and the installer's full path. Nothing when the
// path has no folder or the installer's path would not fit the path buffer.
std::optional<InstallerLaunch> InstallerLaunchFor(const std::string& launcher_path);

}  // namespace zelk
