// The LCDproc server's registry values: defaults, each value's type and range, and that a bad
// value costs only itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "service/host/lcd_server_settings.h"

namespace zelk {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::string_literals;

RegistryValueData Dword(std::uint32_t n) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(n >> (8 * i));
    return {kRegistryDword, bytes};
}

TEST(LcdServerSettings, DefaultsAndValuesThatApply) {
    std::vector<std::string> ignored;
    LcdServerConfig config = LcdServerConfigFromSettings({}, ignored);
    EXPECT_TRUE(config.enabled);
    EXPECT_EQ(config.port, 13666);
    EXPECT_THAT(config.addresses, ElementsAre("127.0.0.1", "::1"));

    config = LcdServerConfigFromSettings(
        {.enabled = Dword(0),
         .port = Dword(65535),
         .addresses = RegistryValueData{kRegistryMultiSz, "0.0.0.0\0::\0\0"s}},
        ignored);
    EXPECT_FALSE(config.enabled);
    EXPECT_EQ(config.port, 65535);
    EXPECT_THAT(config.addresses, ElementsAre("0.0.0.0", "::"));
    EXPECT_TRUE(LcdServerConfigFromSettings({Dword(0x100), {}, {}}, ignored).enabled);
    EXPECT_EQ(LcdServerConfigFromSettings({{}, Dword(0), {}}, ignored).port, 0);
    EXPECT_TRUE(ignored.empty());
}

TEST(LcdServerSettings, AWrongValueIsIgnoredAloneAndSaysWhy) {
    std::vector<std::string> ignored;
    // A port past 65535 (its low 16 bits would be 1), an Enabled of the wrong size, addresses
    // as a plain string: the defaults, and one line each.
    LcdServerConfig config = LcdServerConfigFromSettings(
        {.enabled = RegistryValueData{kRegistryDword, "\0\0\0\0\0\0\0\0"s},
         .port = Dword(65537),
         .addresses = RegistryValueData{1, "0.0.0.0\0"s}},
        ignored);
    EXPECT_TRUE(config.enabled);
    EXPECT_EQ(config.port, 13666);
    EXPECT_THAT(config.addresses, ElementsAre("127.0.0.1", "::1"));
    ASSERT_EQ(ignored.size(), 3u);
    EXPECT_THAT(ignored[0], HasSubstr("Enabled is not a REG_DWORD"));
    EXPECT_THAT(ignored[1], HasSubstr("Port 65537 is out of range"));
    EXPECT_THAT(ignored[2], HasSubstr("Addresses is not a REG_MULTI_SZ"));

    // A port stored as a string; an empty address list. The good value beside them applies.
    ignored.clear();
    config = LcdServerConfigFromSettings({.enabled = Dword(0),
                                          .port = RegistryValueData{kRegistryMultiSz, "13667\0\0"s},
                                          .addresses = RegistryValueData{kRegistryMultiSz, "\0"s}},
                                         ignored);
    EXPECT_FALSE(config.enabled);
    EXPECT_EQ(config.port, 13666);
    EXPECT_THAT(config.addresses, ElementsAre("127.0.0.1", "::1"));
    EXPECT_THAT(ignored, ElementsAre(HasSubstr("Port is not a REG_DWORD"),
                                     HasSubstr("Addresses lists no address")));
}

}  // namespace
}  // namespace zelk
