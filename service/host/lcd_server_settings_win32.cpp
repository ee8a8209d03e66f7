// The LcdServer key read at start, read-only: a missing key or value leaves the default.
#include <windows.h>

#include "common/debug_print.h"
#include "common/win_handles_win32.h"
#include "service/host/lcd_server_settings.h"

namespace zelk {

namespace {

std::optional<RegistryValueData> QueryValue(HKEY key, const char* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    RegistryValueData value;
    value.type = type;
    value.bytes.resize(size);
    if (size > 0 &&
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.bytes.data()),
                         &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.type = type;
    value.bytes.resize(size);
    return value;
}

}  // namespace

LcdServerConfig ReadLcdServerSettings() {
    LcdServerSettingValues values;
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLcdServerSettingsKey, 0, KEY_QUERY_VALUE,
                      key.Receive()) == ERROR_SUCCESS) {
        values.enabled = QueryValue(key.Get(), "Enabled");
        values.port = QueryValue(key.Get(), "Port");
        values.addresses = QueryValue(key.Get(), "Addresses");
    }
    std::vector<std::string> ignored;
    LcdServerConfig config = LcdServerConfigFromSettings(values, ignored);
    for (const std::string& why : ignored) {
        DebugPrint("LcdServer: %s; the default applies\n", why.c_str());
    }
    return config;
}

}  // namespace zelk
