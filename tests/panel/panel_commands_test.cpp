// The reports each panel command sends, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/panel/panel_device.h"
#include "service/panel/virtual_panel.h"
#include "tests/panel/panel_test_fakes.h"

namespace zelk {
namespace {

using test::LineReports;
using test::R;
using test::Report;

class PanelCommandsTest : public ::testing::Test {
  protected:
    explicit PanelCommandsTest(
        std::unique_ptr<TextConverter> converter = std::make_unique<test::IdentityConverter>())
        : bus(VirtualDeviceConfig{}), panel(bus, std::move(converter), sleeper) {
        EXPECT_TRUE(panel.OpenPanel());
    }
    // The reports sent since the last call.
    std::vector<Report> Sent() {
        std::vector<Report> reports = bus.Reports();
        bus.ClearReports();
        return reports;
    }

    VirtualPanelBus bus;
    test::RecordingSleeper sleeper;
    PanelDevice panel;
};

TEST_F(PanelCommandsTest, TrackLineIsTwelveCharacterReportsEndingInBlanks) {
    EXPECT_EQ(panel.WriteLine("Track 3/12", kFirstLine, false), kErrorSuccess);
    const std::vector<Report> sent = Sent();
    ASSERT_EQ(sent.size(), 12u);
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(sent[c][0], 1);
        EXPECT_EQ(sent[c][1], 0xC0 + c);
    }
    EXPECT_EQ(sent[0][2], 'T');
    EXPECT_EQ(sent[9][2], '2');
    EXPECT_EQ(sent[10][2], 0x20);
    EXPECT_EQ(sent[11][2], 0x20);
    EXPECT_EQ(sent, LineReports("Track 3/12", kFirstLine));
    EXPECT_EQ(bus.Picture().Line(0, 12), "Track 3/12  ");
    EXPECT_TRUE(sleeper.Sleeps().empty()) << "no scroll yet, so no handshake";
}

TEST_F(PanelCommandsTest, LongTextIsCutAtTheColumnsAndColumnsAreCappedAt64) {
    const std::string longText(1000, 'L');
    EXPECT_EQ(panel.WriteLine(longText.c_str(), kSecondLine, false), kErrorSuccess);
    EXPECT_EQ(Sent(), LineReports(std::string(12, 'L'), kSecondLine));

    panel.displayColumns = 100;
    EXPECT_EQ(panel.WriteLine(longText.c_str(), kSecondLine, false), kErrorSuccess);
    const std::vector<Report> sent = Sent();
    ASSERT_EQ(sent.size(), 64u);
    EXPECT_EQ(sent.back()[1], 0xBF) << "column 63 of the second line, not the first line's 0xC0";
    for (const Report& r : sent) {
        EXPECT_EQ(r[1] & 0xC0, 0x80);
    }

    panel.displayColumns = 0;
    EXPECT_EQ(panel.WriteLine("abc", kFirstLine, false), kErrorSuccess);
    panel.displayColumns = -3;
    EXPECT_EQ(panel.WriteLine("abc", kFirstLine, false), kErrorSuccess);
    EXPECT_EQ(panel.WriteOrScrollLine("a long text for no columns", kFirstLine), kErrorSuccess);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PanelCommandsTest, NullTextIsABlankLine) {
    EXPECT_EQ(panel.WriteLine(nullptr, kFirstLine, false), kErrorSuccess);
    EXPECT_EQ(panel.WriteOrScrollLine(nullptr, kSecondLine), kErrorSuccess);
    EXPECT_EQ(Sent().size(), 24u);
    EXPECT_EQ(bus.Picture().Line(0, 12), std::string(12, ' '));
}

TEST_F(PanelCommandsTest, WriteStopsAtTheFirstFailedCharacter) {
    bus.SetUnplugged(0, true, 22);
    EXPECT_EQ(panel.WriteLine("abc", kFirstLine, false), 22u);
    EXPECT_EQ(bus.AccessCount(), 3u) << "open and ids, then one failed length query";
}

class DoublingCommandsTest : public PanelCommandsTest {
  protected:
    DoublingCommandsTest() : PanelCommandsTest(std::make_unique<test::DoublingConverter>()) {}
};

TEST_F(DoublingCommandsTest, LineEndsWhereTheConverterOutputEnds) {
    panel.WriteLine("abc", kFirstLine, false);
    EXPECT_EQ(bus.Picture().Line(0, 12), "aabbcc      ");
    const std::string longText(500, 'x');
    panel.displayColumns = 64;
    panel.WriteLine(longText.c_str(), kFirstLine, false);
    EXPECT_EQ(bus.Picture().Line(0, 64), std::string(64, 'x'));
}

TEST_F(PanelCommandsTest, NoConverterMeansBytesPassUnchanged) {
    PanelDevice bare(bus, nullptr, sleeper);
    ASSERT_TRUE(bare.OpenPanel());
    bare.WriteLine("\x82t\xE9", kFirstLine, false);
    EXPECT_EQ(bus.Picture().Line(0, 4), "\x82t\xE9 ");
}

TEST_F(PanelCommandsTest, VolumeBarThresholds) {
    const struct {
        std::uint16_t volume;
        std::uint16_t mask;
    } cases[] = {{0, 0x0001},     {1233, 0x0001},  {1234, 0x0003},  {1466, 0x0003},
                 {1467, 0x0007},  {2072, 0x000F},  {2463, 0x001F},  {2927, 0x003F},
                 {3479, 0x007F},  {4134, 0x00FF},  {5841, 0x01FF},  {6942, 0x03FF},
                 {8250, 0x07FF},  {9806, 0x0FFF},  {16462, 0x1FFF}, {23253, 0x3FFF},
                 {32845, 0x7FFF}, {55140, 0x7FFF}, {55141, 0xFFFF}, {65535, 0xFFFF}};
    for (const auto& c : cases) {
        EXPECT_EQ(panel.SetVolumeBar(c.volume), kErrorSuccess);
        EXPECT_EQ(Sent(), (std::vector<Report>{R({4, static_cast<std::uint8_t>(c.mask & 0xFF),
                                                  static_cast<std::uint8_t>(c.mask >> 8)})}))
            << "volume " << c.volume;
    }
    panel.SetVolumeBar(1233);
    EXPECT_EQ(bus.Picture().VolumeSegments(), 1);
    panel.SetVolumeBar(55141);
    EXPECT_EQ(bus.Picture().VolumeSegments(), 16);
}

TEST_F(PanelCommandsTest, StatusIconCodesSetAndClearOneBitAndAlwaysSendTheWholeByte) {
    panel.SetStatusIcon(16);
    panel.SetStatusIcon(16);  // already set: sent again
    panel.SetStatusIcon(128);
    panel.SetStatusIcon(64);
    panel.SetStatusIcon(-17);
    panel.SetStatusIcon(4);  // status 4 is one bit
    panel.SetStatusIcon(-5);
    panel.SetStatusIcon(-129);
    EXPECT_EQ(Sent(),
              (std::vector<Report>{R({5, 0x10}), R({5, 0x10}), R({5, 0x90}), R({5, 0xD0}),
                                   R({5, 0xC0}), R({5, 0xC4}), R({5, 0xC0}), R({5, 0x40})}));
    EXPECT_EQ(panel.StatusIconByte(), 0x40);
}

TEST_F(PanelCommandsTest, MediaCodeFourIsTheVideoCdPair) {
    panel.SetMediaIcon(4);
    EXPECT_EQ(panel.MediaIconByte(), 0x0C);
    panel.SetMediaIcon(-9);
    EXPECT_EQ(panel.MediaIconByte(), 0x04) << "0x04 stays, 0x08 goes";
    panel.SetMediaIcon(8);
    panel.SetMediaIcon(32);
    panel.SetMediaIcon(-5);
    EXPECT_EQ(panel.MediaIconByte(), 0x20) << "-5 clears both";
    EXPECT_EQ(Sent(), (std::vector<Report>{R({6, 0x0C}), R({6, 0x04}), R({6, 0x0C}), R({6, 0x2C}),
                                           R({6, 0x20})}));
    EXPECT_EQ(bus.Picture().mediaIcons, 0x20);
}

TEST_F(PanelCommandsTest, ClearPanelOrderFlagsAndUntouchedCaches) {
    panel.SetStatusIcon(64);
    panel.SetMediaIcon(2);
    Sent();

    EXPECT_EQ(panel.ClearPanel(3, 7), kErrorSuccess);  // acts as flag 1 only
    EXPECT_EQ(Sent(), (std::vector<Report>{R({3, 7}), R({5, 0}), R({6, 0}), R({4, 0, 0})}));
    panel.ClearPanel(kClearIcons, 9);
    EXPECT_EQ(Sent(), (std::vector<Report>{R({5, 0}), R({6, 0})}));
    panel.ClearPanel(kClearVolumeBar | kClearDisplayControl, 9);
    EXPECT_EQ(Sent(), (std::vector<Report>{R({4, 0, 0})}));
    panel.ClearPanel(kClearDisplayControl, 2);
    EXPECT_EQ(Sent(), (std::vector<Report>{R({3, 2})}));
    EXPECT_EQ(panel.ClearPanel(0x10, 2), kErrorSuccess);
    EXPECT_TRUE(Sent().empty());

    // The caches survive: the next icon command sends the old byte with its one change.
    panel.SetStatusIcon(16);
    panel.SetMediaIcon(-3);
    EXPECT_EQ(Sent(), (std::vector<Report>{R({5, 0x50}), R({6, 0x00})}));
}

TEST_F(PanelCommandsTest, ClearPanelReturnsTheLastReportsResult) {
    bus.SetUnplugged(0, true, 1167);
    EXPECT_EQ(panel.ClearPanel(kClearAll, 0), 1167u);
    EXPECT_EQ(panel.ClearPanel(0, 0), kErrorSuccess);
}

TEST_F(PanelCommandsTest, TransportStates) {
    const struct {
        std::int32_t state;
        std::vector<std::uint8_t> bytes;  // status byte after each of the four calls
        std::uint8_t lit;
    } cases[] = {
        {1, {0x01, 0x01, 0x01, 0x01}, 0x01}, {2, {0x03, 0x02, 0x02, 0x02}, 0x02},
        {3, {0x00, 0x00, 0x04, 0x04}, 0x04}, {4, {0x04, 0x04, 0x00, 0x08}, 0x08},
        {0, {0x08, 0x08, 0x08, 0x00}, 0x00},
    };
    panel.SetStatusIcon(16);
    panel.SetStatusIcon(-17);
    Sent();
    for (const auto& c : cases) {
        EXPECT_EQ(panel.ShowTransportState(c.state), 1u);
        std::vector<Report> expected;
        for (std::uint8_t b : c.bytes) {
            expected.push_back(R({5, b}));
        }
        EXPECT_EQ(Sent(), expected) << "state " << c.state;
        EXPECT_EQ(panel.StatusIconByte(), c.lit);
    }
    EXPECT_EQ(panel.ShowTransportState(5), 1u);
    EXPECT_EQ(panel.ShowTransportState(-1), 1u);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PanelCommandsTest, BrightnessReport) {
    EXPECT_EQ(panel.SetBrightness(0xAF), kErrorSuccess);
    EXPECT_EQ(Sent(), (std::vector<Report>{R({2, 0xAF})}));
    EXPECT_EQ(bus.Picture().brightness, 0xAF);
}

TEST(PanelCommandsNoPanel, CachesStillChangeAndWritesGiveSix) {
    VirtualPanelBus bus;
    test::RecordingSleeper sleeper;
    PanelDevice panel(bus, std::make_unique<test::IdentityConverter>(), sleeper);
    EXPECT_EQ(panel.SetStatusIcon(128), kErrorInvalidHandle);
    EXPECT_EQ(panel.SetMediaIcon(4), kErrorInvalidHandle);
    EXPECT_EQ(panel.StatusIconByte(), 0x80);
    EXPECT_EQ(panel.MediaIconByte(), 0x0C);
    EXPECT_EQ(panel.SetVolumeBar(100), kErrorInvalidHandle);
    EXPECT_EQ(panel.ClearPanel(kClearAll, 0), kErrorInvalidHandle);
    EXPECT_EQ(panel.SetBrightness(1), kErrorInvalidHandle);
}

}  // namespace
}  // namespace zelk
