// Where the LCDproc server listens, and whether it runs at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelk {

class LongOptions;

inline constexpr std::uint16_t kLcdDefaultPort = 13666;

struct LcdServerConfig {
    bool enabled = false;
    // Numeric addresses; loopback only by default.
    std::vector<std::string> addresses{"127.0.0.1", "::1"};
    // 0: any free port.
    std::uint16_t port = kLcdDefaultPort;
};

// A port as the programs' options take it: a whole decimal number from 0 to 65535.
std::optional<std::uint16_t> ParseLcdPort(const std::string& text);

// The programs' options for the server: --lcdproc-port N and --lcdproc-address A (repeatable;
// the first one replaces the default pair); a port given turns the server on. `config` must
// outlive the parse.
void AddLcdServerOptions(LongOptions& parser, LcdServerConfig& config);

}  // namespace zelk
