// The LCDproc server's settings on Windows: the values of the service's LcdServer key, read once
// at start. The reading is thin platform code (lcd_server_settings_win32.cpp); the checks of
// the raw values are here. A value of the wrong type or out of range is ignored and its
// default applies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/core/lcd_server_config.h"

namespace zelk {

// Below HKEY_LOCAL_MACHINE; never created by the service.
inline constexpr char kLcdServerSettingsKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\LUMARA\\Parameters\\LcdServer";

// The registry's value types that the settings use.
inline constexpr std::uint32_t kRegistryDword = 4;
inline constexpr std::uint32_t kRegistryMultiSz = 7;

// One value as stored: its type and its bytes.
struct RegistryValueData {
    std::uint32_t type = 0;
    std::string bytes;
};

// The key's values; unset: the value is not there.
struct LcdServerSettingValues {
    std::optional<RegistryValueData> enabled;    // REG_DWORD, 0: off
    std::optional<RegistryValueData> port;       // REG_DWORD, 0 to 65535
    std::optional<RegistryValueData> addresses;  // REG_MULTI_SZ, at least one address
};

// The server's configuration from the values (the defaults for those that are missing). Each
// value that is ignored adds a line to `ignored` saying which and why.
LcdServerConfig LcdServerConfigFromSettings(const LcdServerSettingValues& values,
                                            std::vector<std::string>& ignored);

// Reads the key (Windows): the defaults when it does not exist; each ignored value is traced.
LcdServerConfig ReadLcdServerSettings();

}  // namespace zelk
