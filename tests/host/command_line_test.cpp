#include "service/host/command_line.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace zelk {
namespace {

ServiceCommandLine Parse(std::initializer_list<const char*> arguments) {
    std::vector<const char*> argv = {"C:\\Program Files\\Lumara\\Lumara.exe"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ServiceCommandLine command_line;
    ParseArguments(command_line, static_cast<int>(argv.size()), argv.data());
    return command_line;
}

TEST(CommandLine, NoArgumentsRunsAsServiceWithDefaults) {
    const ServiceCommandLine line = Parse({});
    EXPECT_EQ(line.action, kActionRunAsService);
    EXPECT_EQ(line.timeout, 5000u);
    EXPECT_FALSE(line.silent);
}

TEST(CommandLine, EveryWordSelectsItsActionAfterDashOrSlashInAnyCase) {
    const struct {
        const char* argument;
        int action;
    } cases[] = {
        {"-install", kActionInstall},
        {"/INSTALL", kActionInstall},
        {"-InStAlL", kActionInstall},
        {"-start", kActionStart},
        {"/Pause", kActionPause},
        {"-continue", kActionContinue},
        {"/stop", kActionStop},
        {"-remove", kActionUninstall},
        {"/Uninstall", kActionUninstall},
        {"-DEBUG", kActionDebug},
        {"/debug", kActionDebug},
        {"-help", kActionHelp},
        {"/?", kActionHelp},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse({c.argument}).action, c.action) << c.argument;
    }
}

TEST(CommandLine, ArgumentsWithoutDashOrSlashAndUnknownOptionsAreIgnored) {
    EXPECT_EQ(Parse({"install"}).action, kActionRunAsService);
    EXPECT_EQ(Parse({"-installs", "--install", "-"}).action, kActionRunAsService);
    EXPECT_EQ(Parse({"-start", "stop", "-bogus"}).action, kActionStart);
}

TEST(CommandLine, LastActionWinsAndSilentKeepsTheAction) {
    EXPECT_EQ(Parse({"-install", "-uninstall"}).action, kActionUninstall);
    const ServiceCommandLine before = Parse({"/silent", "-stop"});
    EXPECT_EQ(before.action, kActionStop);
    EXPECT_TRUE(before.silent);
    const ServiceCommandLine after = Parse({"-stop", "-SILENT"});
    EXPECT_EQ(after.action, kActionStop);
    EXPECT_TRUE(after.silent);
}

TEST(CommandLine, TimeoutOption) {
    EXPECT_EQ(Parse({"-T:10000"}).timeout, 10000u);
    EXPECT_EQ(Parse({"/t:10000"}).timeout, 10000u);
    EXPECT_EQ(Parse({"-T:"}).timeout, 5000u);          // nothing after it: unchanged
    EXPECT_EQ(Parse({"-T:abc"}).timeout, 0u);          // no digits: 0
    EXPECT_EQ(Parse({"-T:-1"}).timeout, 0xFFFFFFFFu);  // wait without limit
    EXPECT_EQ(Parse({"-T:  250ms"}).timeout, 250u);    // blanks skipped, digits up to a letter
    EXPECT_EQ(Parse({"-T:+42"}).timeout, 42u);
    EXPECT_EQ(Parse({"T:100"}).timeout, 5000u);  // not an option
    // The timeout does not change the action; the action does not change the timeout.
    const ServiceCommandLine line = Parse({"-uninstall", "-T:7000", "-start"});
    EXPECT_EQ(line.action, kActionStart);
    EXPECT_EQ(line.timeout, 7000u);
}

TEST(CommandLine, TimeoutNumbersBeyondThirtyTwoBitsHoldAtTheRangeEnds) {
    EXPECT_EQ(ParseTimeoutNumber("2147483647"), 2147483647);
    EXPECT_EQ(ParseTimeoutNumber("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParseTimeoutNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseTimeoutNumber("-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseTimeoutNumber("-"), 0);
}

TEST(CommandLine, NullArgumentsAreSkipped) {
    const char* argv[] = {"Lumara.exe", nullptr, "-stop"};
    ServiceCommandLine line;
    ParseArguments(line, 3, argv);
    EXPECT_EQ(line.action, kActionStop);
    ParseArguments(line, 5, nullptr);
    EXPECT_EQ(line.action, kActionStop);
}

}  // namespace
}  // namespace zelk
