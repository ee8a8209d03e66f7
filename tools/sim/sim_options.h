// Command lines of lumara-sim and lumara-send, and the tag names lumara-send understands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/core/lcd_server_config.h"

namespace zelk {

struct SimOptions {
    std::string propsPath;  // empty: DisplayProps.xml beside the program, else built in
    std::string pipeName;
    std::string reportLogPath;  // empty: no log
    bool quiet = false;
    std::uint64_t advanceMs = 0;  // --advance: the service's time starts this far ahead
    // The LCDproc server: on once --lcdproc-port is given.
    LcdServerConfig lcdServer;
    bool help = false;  // --help: show the usage and exit
    bool version = false;
};

struct SendOptions {
    std::string pipeName;
    std::int32_t session = 1;
    std::int32_t tag = 0;
    std::string text;
    bool help = false;  // --help: show the usage and exit (nothing else is checked)
    bool version = false;
};

// Both parsers take the arguments after the program name; on failure they return nothing and
// set `error` to one line saying what is wrong.
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error);
std::optional<SendOptions> ParseSendOptions(const std::vector<std::string>& args,
                                            std::string& error);

// A tag as lumara-send takes it: decimal or 0x hexadecimal, a MSPROPTAG_ name with or without
// its prefix, or "open" / "close" for the session messages.
std::optional<std::int32_t> ParseTag(const std::string& text);

// A whole decimal number (with an optional sign) that fits 32 bits.
std::optional<std::int32_t> ParseDecimal(const std::string& text);

const char* SimUsage();
const char* SendUsage();

}  // namespace zelk
