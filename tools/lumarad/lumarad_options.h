// The command line of lumarad.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "service/core/lcd_server_config.h"

namespace zelk {

inline constexpr char kDefaultPropsPath[] = "/etc/lumara/DisplayProps.xml";
inline constexpr char kDefaultHidrawClassDir[] = "/sys/class/hidraw";
inline constexpr char kDefaultDevDir[] = "/dev";

struct DaemonOptions {
    std::string propsPath = kDefaultPropsPath;
    std::string pipeName;  // the service's pipe name unless given
    std::string hidrawClassDir = kDefaultHidrawClassDir;
    std::string devDir = kDefaultDevDir;
    LcdServerConfig lcdServer{.enabled = true};
    bool help = false;
    bool version = false;
};

// Takes the arguments after the program name. On failure returns nothing and sets `error` to
// one line saying what is wrong.
std::optional<DaemonOptions> ParseDaemonOptions(const std::vector<std::string>& args,
                                                std::string& error);

const char* DaemonUsage();

}  // namespace zelk
