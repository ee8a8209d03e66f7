// Installation of the panel's HID collection drivers: the order of the steps and what counts as
// a failure, over a small interface to the three system services involved, so the rules run
// against a fake as well as against SetupAPI and newdev.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zelk {

// Path buffers of the installer, in bytes including the terminating NUL.
inline constexpr std::size_t kInstallerPathBuffer = 260;
// Room given to the current directory read (at most this many bytes including the NUL).
inline constexpr std::size_t kInstallerCurrentDirRoom = 259;

inline constexpr char kPanelInfName[] = "FRONTPANEL.INF";
inline constexpr char kKeyboardInfName[] = "FRONTPANELKBRD.INF";

inline constexpr std::uint32_t kInstallFlagForce = 1;  // INSTALLFLAG_FORCE
inline constexpr std::uint32_t kInstallFlagNone = 0;

// One collection of the panel and the INF file that serves it.
struct DriverInstallStep {
    const char* hardware_id;
    const char* inf_name;
    std::uint32_t flags;
};

// The four collections in the order they are installed.
inline constexpr DriverInstallStep kDriverInstallSteps[4] = {
    {"HID\\Vid_1F3C&Pid_5A41&Col01", kPanelInfName, kInstallFlagForce},
    {"HID\\Vid_1F3C&Pid_5A41&Col03", kPanelInfName, kInstallFlagForce},
    {"HID\\Vid_1F3C&Pid_5A41&Col04", kPanelInfName, kInstallFlagForce},
    {"HID\\Vid_1F3C&Pid_5A41&Col02", kKeyboardInfName, kInstallFlagNone},
};

// The system services the installer uses.
class DriverInstallSystem {
  public:
    virtual ~DriverInstallSystem() = default;
    // The current directory, or nothing when it cannot be read into `room` bytes (NUL included).
    virtual std::optional<std::string> CurrentDirectory(std::size_t room) = 0;
    // Copies an INF file into the system's INF store; false when the copy failed.
    virtual bool CopyInf(const std::string& inf_path, const std::string& source_dir) = 0;
    // Points every present device with `hardware_id` at `inf_path`; returns the system's BOOL
    // result unchanged (1 is TRUE).
    virtual int UpdateDriver(const char* hardware_id, const std::string& inf_path,
                             std::uint32_t flags) = 0;
    // The thread's last error, read straight after UpdateDriver.
    virtual std::uint32_t LastError() = 0;
};

// Runs the installation; true when every step succeeded. Stops at the first failing step.
// Fails before touching anything when the current directory cannot be read or is too long for
// either INF path to fit the path buffer.
bool InstallPanelDrivers(DriverInstallSystem& system);

// The process's exit code for an installation result.
inline int InstallerExitCode(bool installed) {
    return installed ? 0 : 1;
}

}  // namespace zelk
