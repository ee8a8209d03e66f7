// The simulator's SVG picture of the panel.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "service/core/service_host.h"
#include "service/panel/display_props.h"
#include "tests/support/fake_clock.h"
#include "tools/sim/sim_clock.h"
#include "tools/sim/sim_commands.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_svg.h"

namespace zelk {
namespace {

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(PanelSvg, DrawsLinesIconsBarAndValuesAsWellFormedXml) {
    PanelPicture picture;
    picture.lines[0].replace(0, 5, "A<B&C");
    picture.lines[1].replace(0, 2, "\x82!");   // code page 850: e acute
    picture.statusIcons = 0x01 | 0x80 | 0x20;  // play, repeat and a bit without a name
    picture.mediaIcons = 0x08;
    picture.volumeMask = 0x00FF;
    picture.brightness = 175;
    picture.displayControl = 2;

    const std::string svg = PanelSvg(picture, 12);
    EXPECT_EQ(Count(svg, "class=\"icon lit\""), 3u);
    EXPECT_EQ(Count(svg, "class=\"icon dark\""), 10u);
    EXPECT_EQ(Count(svg, "class=\"segment lit\""), 8u);
    EXPECT_EQ(Count(svg, "class=\"segment dark\""), 8u);
    EXPECT_EQ(Count(svg, "fill=\"url(#dots)\""), 24u) << "twelve cells on each line";
    EXPECT_EQ(Count(svg, "<tspan"), 7u) << "one glyph per character that is not a blank";
    EXPECT_NE(svg.find(">&lt;</tspan>"), std::string::npos);
    EXPECT_NE(svg.find(">&amp;</tspan>"), std::string::npos);
    EXPECT_NE(svg.find(">\xC3\xA9</tspan>"), std::string::npos);
    EXPECT_NE(svg.find("brightness 175 (0xAF) \xC2\xB7 display control 2"), std::string::npos);
    EXPECT_EQ(Count(PanelSvg(picture, 20), "fill=\"url(#dots)\""), 40u);

    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("panel-svg-test-" + std::to_string(::getpid()) + ".svg");
    ASSERT_TRUE(WritePanelSvg(picture, 12, file.string()));
    XmlNode root;
    std::uint32_t error = 0;
    EXPECT_EQ(CreateSystemXmlLoader()->Load(file.string(), root, error), XmlLoadStatus::kLoaded);
    EXPECT_EQ(root.tagName, "svg");
    std::filesystem::remove(file);
    EXPECT_FALSE(WritePanelSvg(picture, 12, "/nonexistent-folder/panel.svg"));
}

TEST(SimDimming, TimeIsMovedByOptionAndCommandAndTheDimmedPictureSaysWhy) {
    const std::pair<const char*, std::int64_t> spans[] = {
        {"300", 300000}, {"90s", 90000}, {"5m", 300000}, {"8h", 28800000}, {"0", 0},     {"", -1},
        {"h", -1},       {"-5m", -1},    {"+5", -1},     {"5d", -1},       {"9000h", -1}};
    for (const auto& [text, ms] : spans) {
        const auto parsed = ParseTimeSpanMs(text);
        EXPECT_EQ(parsed ? static_cast<std::int64_t>(*parsed) : -1, ms) << text;
    }
    std::string error;
    const auto options = ParseSimOptions({"--advance", "2h"}, error);
    ASSERT_TRUE(options.has_value()) << error;
    EXPECT_EQ(options->advanceMs, 7200000u);
    EXPECT_FALSE(ParseSimOptions({"--advance", "soon"}, error).has_value());

    test::FakeClock real;
    real.SetLocalTime(22 * test::kHourMs);
    SimClock clock(real);
    StandaloneServiceHost host;
    LumaraService service(host, ServiceEnvironment{});
    SimVolumeSource volume(0);
    EXPECT_TRUE(RunSimCommand("advance 90m", service, volume, nullptr, error, &clock)) << error;
    EXPECT_EQ(clock.NowMs(), 5400000u);
    std::uint32_t local = 0;
    ASSERT_TRUE(clock.LocalMsOfDay(0, local));
    EXPECT_EQ(local, 23 * test::kHourMs + 30 * 60000);
    EXPECT_TRUE(service.Shared().wake.IsSet()) << "the service is told to look at the time";
    EXPECT_FALSE(RunSimCommand("advance", service, volume, nullptr, error, &clock));
    EXPECT_FALSE(RunSimCommand("advance 5m", service, volume, nullptr, error, nullptr));

    PanelPicture picture;
    picture.brightness = 40;
    const std::string dimmed = PanelSvg(picture, 12, "idle");
    EXPECT_NE(dimmed.find("brightness 40 (0x28), dimmed: idle"), std::string::npos);
    EXPECT_EQ(Count(dimmed, "opacity="), 1u);
    EXPECT_EQ(Count(PanelSvg(picture, 12), "opacity="), 0u);
}

}  // namespace
}  // namespace zelk
