#include "tools/lumarad/lumarad_options.h"

#include "common/long_options.h"
#include "common/pipe_message.h"

namespace zelk {

std::optional<DaemonOptions> ParseDaemonOptions(const std::vector<std::string>& args,
                                                std::string& error) {
    DaemonOptions options;
    options.pipeName = kPipeName;
    bool noLcdServer = false;
    LongOptions parser;
    parser.Value("--props", options.propsPath)
        .Value("--pipe", options.pipeName)
        .Value("--hidraw-class", options.hidrawClassDir)
        .Value("--dev-dir", options.devDir)
        .Flag("--no-lcdproc", noLcdServer);
    AddLcdServerOptions(parser, options.lcdServer);
    const LongOptions::Outcome outcome = parser.Parse(args, error);
    if (outcome == LongOptions::Outcome::kError) return std::nullopt;
    options.lcdServer.enabled = !noLcdServer;
    options.help = outcome == LongOptions::Outcome::kHelp;
    options.version = outcome == LongOptions::Outcome::kVersion;
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
           "  --lcdproc-port N     the LCDproc server's TCP port (default 13666; 0: any free)\n"
           "  --lcdproc-address A  a numeric address to listen on, repeatable (default\n"
           "                       127.0.0.1 and ::1)\n"
           "  --no-lcdproc         no LCDproc server\n"
           "  --help               show this help and exit\n"
           "  --version            show the version and exit\n"
           "\n"
           "Stops with the stopping screen on SIGTERM or SIGINT. Events go to the journal when\n"
           "run by systemd, else to standard error.\n";
}

}  // namespace zelk
