#include "tools/lumarad/lumarad_options.h"

#include "common/pipe_message.h"

namespace zelk {

std::optional<DaemonOptions> ParseDaemonOptions(const std::vector<std::string>& args,
                                                std::string& error) {
    DaemonOptions options;
    options.pipeName = kPipeName;
    struct Valued {
        const char* name;
        std::string DaemonOptions::*field;
    };
    static const Valued valued[] = {
        {"--props", &DaemonOptions::propsPath},
        {"--pipe", &DaemonOptions::pipeName},
        {"--hidraw-class", &DaemonOptions::hidrawClassDir},
        {"--dev-dir", &DaemonOptions::devDir},
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--version") {
            options.version = true;
            continue;
        }
        bool matched = false;
        for (const Valued& v : valued) {
            const std::string name = v.name;
            std::string value;
            if (arg == name) {
                if (i + 1 >= args.size()) {
                    error = name + " needs a value";
                    return std::nullopt;
                }
                value = args[++i];
            } else if (arg.rfind(name + "=", 0) == 0) {
                value = arg.substr(name.size() + 1);
            } else {
                continue;
            }
            if (value.empty()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            options.*(v.field) = value;
            matched = true;
            break;
        }
        if (!matched) {
            error = (arg.rfind("-", 0) == 0 ? "unknown option: " : "unexpected argument: ") + arg;
            return std::nullopt;
        }
    }
    return options;
}

const char* DaemonUsage() {
    return "Usage: lumarad [OPTION]...\n"
           "Drives the front panel on hidraw and serves the panel's pipe, in the foreground.\n"
           "\n"
           "  --props FILE         the panel's properties (default /etc/lumara/DisplayProps.xml)\n"
           "  --pipe NAME          the pipe's name (default ZELK_FRONTPANEL_PIPE)\n"
           "  --hidraw-class DIR   where the hidraw nodes are listed (default /sys/class/hidraw)\n"
           "  --dev-dir DIR        where the hidraw nodes are (default /dev)\n"
           "  --help               show this help and exit\n"
           "  --version            show the version and exit\n"
           "\n"
           "Stops with the stopping screen on SIGTERM or SIGINT. Events go to the journal when\n"
           "run by systemd, else to standard error.\n";
}

}  // namespace zelk
