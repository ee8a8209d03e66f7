#include "tools/launcher/launcher_paths.h"

#include <cstring>

namespace zelk {

std::optional<InstallerLaunch> InstallerLaunchFor(const std::string& launcher_path) {
    if (launcher_path.size() >= kLauncherPathBuffer) return std::nullopt;
    const std::size_t cut = launcher_path.find_last_of('\\');
    if (cut == std::string::npos || cut == 0) return std::nullopt;

    InstallerLaunch launch;
    // A program at a drive's root keeps the backslash: "C:" alone would name the drive's
    // current directory instead.
    launch.folder = launcher_path.substr(0, cut);
    if (launch.folder.back() == ':') launch.folder += '\\';
    launch.application = launcher_path.substr(0, cut + 1) + kInstallerFileName;
    if (launch.application.size() + 1 > kLauncherPathBuffer) return std::nullopt;
    return launch;
}

}  // namespace zelk
