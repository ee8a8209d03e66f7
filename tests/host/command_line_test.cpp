#include "service/host/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace zelk {
namespace {

TEST(CommandLine, OptionsSelectTheActionSilenceAndTimeout) {
    constexpr std::uint32_t kDefault = 5000;
    const struct {
        std::vector<const char*> arguments;
        int action;
        std::uint32_t timeout = kDefault;
        bool silent = false;
    } cases[] = {
        {{}, kActionRunAsService},
        // Every word after a dash or slash, in any case.
        {{"-install"}, kActionInstall},
        {{"/INSTALL"}, kActionInstall},
        {{"-InStAlL"}, kActionInstall},
        {{"-start"}, kActionStart},
        {{"/Pause"}, kActionPause},
        {{"-continue"}, kActionContinue},
        {{"/stop"}, kActionStop},
        {{"-remove"}, kActionUninstall},
        {{"/Uninstall"}, kActionUninstall},
        {{"-DEBUG"}, kActionDebug},
        {{"-help"}, kActionHelp},
        {{"/?"}, kActionHelp},
        // Words without a dash or slash, and unknown options, are ignored.
        {{"install", "-installs", "--install", "-"}, kActionRunAsService},
        {{"-start", "stop", "-bogus"}, kActionStart},
        // The last action wins; silent and the timeout keep it.
        {{"-install", "-uninstall"}, kActionUninstall},
        {{"/silent", "-stop"}, kActionStop, kDefault, true},
        {{"-stop", "-SILENT"}, kActionStop, kDefault, true},
        {{"-uninstall", "-T:7000", "-start"}, kActionStart, 7000},
        // The timeout: nothing after it leaves it, no digits give 0, -1 waits without limit,
        // blanks are skipped and the digits end at a letter.
        {{"/t:10000"}, kActionRunAsService, 10000},
        {{"-T:"}, kActionRunAsService},
        {{"-T:abc"}, kActionRunAsService, 0},
        {{"-T:-1"}, kActionRunAsService, 0xFFFFFFFFu},
        {{"-T:  250ms"}, kActionRunAsService, 250},
        {{"-T:+42"}, kActionRunAsService, 42},
        {{"T:100"}, kActionRunAsService},
        {{nullptr, "-stop"}, kActionStop},  // null arguments are skipped
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"C:\\Program Files\\Lumara\\Lumara.exe"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        SCOPED_TRACE(c.arguments.empty() || !c.arguments.back() ? "" : c.arguments.back());
        ServiceCommandLine line;
        ParseArguments(line, static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.timeout, c.timeout);
        EXPECT_EQ(line.silent, c.silent);
    }
    ServiceCommandLine line;
    ParseArguments(line, 5, nullptr);
    EXPECT_EQ(line.action, kActionRunAsService);
}

TEST(CommandLine, TimeoutNumbersBeyondThirtyTwoBitsHoldAtTheRangeEnds) {
    EXPECT_EQ(ParseTimeoutNumber("2147483647"), 2147483647);
    EXPECT_EQ(ParseTimeoutNumber("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParseTimeoutNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseTimeoutNumber("-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseTimeoutNumber("-"), 0);
}

}  // namespace
}  // namespace zelk
