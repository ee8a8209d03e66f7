#include "service/host/lcd_server_settings.h"

#include "service/host/multi_sz.h"

namespace zelk {

namespace {

// The number a REG_DWORD holds, or the reason it is not one.
std::optional<std::uint32_t> DwordOf(const char* name, const RegistryValueData& value,
                                     std::vector<std::string>& ignored) {
    if (value.type != kRegistryDword || value.bytes.size() != 4) {
        ignored.push_back(std::string(name) + " is not a REG_DWORD (type " +
                          std::to_string(value.type) + ", " + std::to_string(value.bytes.size()) +
                          " bytes)");
        return std::nullopt;
    }
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) {
        number = (number << 8) | static_cast<unsigned char>(value.bytes[static_cast<size_t>(i)]);
    }
    return number;
}

}  // namespace

LcdServerConfig LcdServerConfigFromSettings(const LcdServerSettingValues& values,
                                            std::vector<std::string>& ignored) {
    LcdServerConfig config{.enabled = true};
    if (values.enabled) {
        if (const auto on = DwordOf("Enabled", *values.enabled, ignored)) config.enabled = *on != 0;
    }
    if (values.port) {
        if (const auto port = DwordOf("Port", *values.port, ignored)) {
            if (*port <= 65535) {
                config.port = static_cast<std::uint16_t>(*port);
            } else {
                ignored.push_back("Port " + std::to_string(*port) +
                                  " is out of range (0 to 65535)");
            }
        }
    }
    if (values.addresses) {
        const RegistryValueData& value = *values.addresses;
        if (value.type != kRegistryMultiSz) {
            ignored.push_back("Addresses is not a REG_MULTI_SZ (type " +
                              std::to_string(value.type) + ")");
        } else if (auto list = ParseMultiSz(value.bytes.data(), value.bytes.size()); list.empty()) {
            ignored.push_back("Addresses lists no address");
        } else {
            config.addresses = std::move(list);
        }
    }
    return config;
}

}  // namespace zelk
