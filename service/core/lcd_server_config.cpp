#include "service/core/lcd_server_config.h"

#include <memory>

#include "common/long_options.h"

namespace zelk {

std::optional<std::uint16_t> ParseLcdPort(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

void AddLcdServerOptions(LongOptions& parser, LcdServerConfig& config) {
    auto addressGiven = std::make_shared<bool>(false);
    parser
        .Value("--lcdproc-port",
               [&config](const std::string& value) -> std::string {
                   const auto port = ParseLcdPort(value);
                   if (!port) {
                       return "--lcdproc-port needs a port number from 0 to 65535, not \"" + value +
                              "\"";
                   }
                   config.port = *port;
                   config.enabled = true;
                   return "";
               })
        .Value("--lcdproc-address", [&config, addressGiven](const std::string& value) {
            if (!*addressGiven) config.addresses.clear();
            *addressGiven = true;
            config.addresses.push_back(value);
            return std::string();
        });
}

}  // namespace zelk
