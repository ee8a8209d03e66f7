// Finding the panel over the virtual bus, and the reports each panel command sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/debug_print.h"
#include "service/panel/panel_device.h"
#include "service/panel/virtual_panel.h"
#include "tests/panel/panel_test_fakes.h"

namespace zelk {
namespace {

using test::LineReports;
using test::R;
using test::Report;
using Reports = std::vector<Report>;

VirtualDeviceConfig Device(std::uint16_t vendor, std::uint16_t product, std::uint16_t length = 8) {
    VirtualDeviceConfig config;
    config.vendorId = vendor;
    config.productId = product;
    config.outputReportLength = length;
    return config;
}

class PanelTest : public ::testing::Test {
  protected:
    std::unique_ptr<PanelDevice> MakePanel(std::uint32_t copies = 1) {
        return std::make_unique<PanelDevice>(
            bus, std::make_unique<test::RepeatingConverter>(copies), sleeper);
    }
    // A panel opened on the bus's first device with `columns` columns.
    std::unique_ptr<PanelDevice> MakePanel(std::uint32_t copies, std::int16_t columns) {
        auto panel = MakePanel(copies);
        PanelConfig config;
        config.displayColumns = columns;
        EXPECT_TRUE(panel->OpenPanel(config));
        return panel;
    }
    // The reports sent since the last call.
    Reports Sent() {
        Reports reports = bus.Reports();
        bus.ClearReports();
        return reports;
    }
    VirtualPanelBus bus;
    test::RecordingSleeper sleeper;
    const std::uint8_t report[kReportSize] = {1, 0xC5, 'x', 9, 9, 9, 9, 9};
};

TEST_F(PanelTest, WithoutAMatchEveryCommandGivesSixAndNoDeviceIsTouched) {
    for (const bool wineDevices : {false, true}) {
        SCOPED_TRACE(wineDevices);
        VirtualPanelBus other;
        if (wineDevices) {
            other.AddDevice(Device(0x845E, 0x0001));
            other.AddDevice(Device(0x5A41, 0x1F3C));  // ids swapped
        }
        PanelDevice panel(other, std::make_unique<test::RepeatingConverter>(), sleeper);
        EXPECT_EQ(other.AccessCount(0), 0u) << "the constructor touches no device";
        ScopedDebugCapture capture;
        EXPECT_FALSE(panel.OpenPanel());
        EXPECT_TRUE(capture.Contains(
            "Searched through all HID devices and couldn't find a match. Returning FALSE.\n"));
        EXPECT_FALSE(panel.IsOpen());

        const std::size_t before = other.AccessCount(0) + other.AccessCount(1);
        EXPECT_EQ(panel.BeginFrame().WriteReport(report), kErrorInvalidHandle);
        EXPECT_EQ(panel.BeginFrame().WriteLine("Hello", kFirstLine), kErrorInvalidHandle);
        EXPECT_EQ(panel.BeginFrame().SetStatusIcon(128), kErrorInvalidHandle);
        EXPECT_EQ(panel.BeginFrame().SetMediaIcon(4), kErrorInvalidHandle);
        EXPECT_EQ(panel.BeginFrame().SetVolumeBar(100), kErrorInvalidHandle);
        EXPECT_EQ(panel.BeginFrame().ClearPanel(kClearAll, 0), kErrorInvalidHandle);
        EXPECT_EQ(panel.BeginFrame().SetBrightness(1), kErrorInvalidHandle);
        EXPECT_EQ(panel.StatusIconByte(), 0x80) << "the caches still change";
        EXPECT_EQ(panel.MediaIconByte(), 0x0C);
        EXPECT_EQ(other.AccessCount(0) + other.AccessCount(1), before);
    }
}

TEST_F(PanelTest, SkipsWrongIdsUnopenableAndUnreadableInterfacesFirstMatchWins) {
    bus.AddDevice(Device(0x1F3C, 0x5A42));  // right vendor, wrong product
    bus.AddDevice(Device(0x5A41, 0x1F3C));  // ids swapped
    VirtualDeviceConfig locked = Device(0x1F3C, 0x5A41);
    locked.openable = false;  // a collection held by another driver
    bus.AddDevice(locked);
    VirtualDeviceConfig mute = Device(0x1F3C, 0x5A41);
    mute.attributesReadable = false;
    bus.AddDevice(mute);
    bus.AddDevice(Device(0x1F3C, 0x5A41));  // the panel
    bus.AddDevice(Device(0x1F3C, 0x5A41));  // a second matching collection
    bus.AddDevice(Device(0x1234, 0xABCD));
    auto panel = MakePanel();
    ASSERT_TRUE(panel->OpenPanel());
    EXPECT_EQ(bus.OpenCount(5), 0u) << "the second match must never be opened";
    EXPECT_EQ(panel->BeginFrame().WriteReport(report), kErrorSuccess);
    for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(bus.ReportCount(i), i == 4 ? 1u : 0u) << i;

    auto configured = MakePanel();  // the ids given to OpenPanel are the ones looked for
    PanelConfig ids;
    ids.vendorId = 0x1234;
    ids.productId = 0xABCD;
    ASSERT_TRUE(configured->OpenPanel(ids));
    EXPECT_EQ(configured->BeginFrame().WriteReport(report), kErrorSuccess);
    EXPECT_EQ(bus.ReportCount(6), 1u);
}

TEST_F(PanelTest, ReportLengthShortIsCutLongIsZeroPaddedNoneIsAnError) {
    for (const std::uint16_t length : {3, 16, 0}) {
        SCOPED_TRACE(length);
        VirtualPanelBus one(Device(0x1F3C, 0x5A41, length));
        PanelDevice panel(one, nullptr, sleeper);
        ASSERT_TRUE(panel.OpenPanel());
        Report expected(report, report + 8);
        expected.resize(length, 0);
        EXPECT_EQ(panel.BeginFrame().WriteReport(report),
                  length ? kErrorSuccess : kErrorGenFailure);
        EXPECT_EQ(one.Reports(), length ? Reports{expected} : Reports{});
    }
}

TEST_F(PanelTest, AWriteThatFindsThePanelGoneClosesItOtherFailuresDoNot) {
    bus.AddDevice(Device(0x1F3C, 0x5A41));
    auto panel = MakePanel();
    int lost = 0;
    panel->SetLostHandler([&lost] { ++lost; });
    ASSERT_TRUE(panel->OpenPanel());

    bus.SetUnplugged(0, true, 22);  // not a sign of a gone panel: a line stops at its failure
    const std::size_t accesses = bus.AccessCount(0);
    EXPECT_EQ(panel->BeginFrame().WriteLine("abc", kFirstLine), 22u);
    EXPECT_EQ(bus.AccessCount(0), accesses + 1);
    EXPECT_TRUE(panel->IsOpen());
    EXPECT_EQ(lost, 0);

    for (std::uint32_t gone : {kErrorDeviceNotConnected, kErrorInvalidHandle}) {
        SCOPED_TRACE(gone);
        lost = 0;
        bus.SetUnplugged(0, false);
        ASSERT_TRUE(panel->OpenPanel());
        bus.SetUnplugged(0, true, gone);
        EXPECT_EQ(panel->BeginFrame().WriteReport(report), gone);
        EXPECT_FALSE(panel->IsOpen());
        EXPECT_EQ(lost, 1);
        // Nothing more reaches the device, not even when it is back: only a new open does.
        const std::size_t touched = bus.AccessCount(0);
        bus.SetUnplugged(0, false);
        EXPECT_EQ(panel->BeginFrame().ClearPanel(kClearAll, 0), kErrorInvalidHandle);
        EXPECT_EQ(bus.AccessCount(0), touched);
        EXPECT_EQ(lost, 1);
    }
    ASSERT_TRUE(panel->OpenPanel());
    EXPECT_EQ(panel->BeginFrame().WriteReport(report), kErrorSuccess);
}

class PanelCommandsTest : public PanelTest {
  protected:
    void SetUp() override {
        bus.AddDevice(VirtualDeviceConfig{});
        panel = MakePanel();
        ASSERT_TRUE(panel->OpenPanel());
    }
    std::unique_ptr<PanelDevice> panel;
};

TEST_F(PanelCommandsTest, LinesAreTwelveCharactersCutOrPaddedAndColumnsCappedAt64) {
    EXPECT_EQ(panel->BeginFrame().WriteLine("Track 3/12", kFirstLine), kErrorSuccess);
    EXPECT_EQ(Sent(), LineReports("Track 3/12", kFirstLine));
    EXPECT_TRUE(sleeper.Sleeps().empty()) << "no scroll yet, so no handshake";
    panel->BeginFrame().WriteLine(nullptr, kFirstLine);
    EXPECT_EQ(panel->BeginFrame().WriteOrScrollLine(nullptr, kSecondLine), kErrorSuccess);
    EXPECT_EQ(Sent(), [] {
        Reports blanks = LineReports("", kFirstLine);
        const Reports second = LineReports("", kSecondLine);
        blanks.insert(blanks.end(), second.begin(), second.end());
        return blanks;
    }());

    const std::string longText(1000, 'L');
    EXPECT_EQ(panel->BeginFrame().WriteLine(longText.c_str(), kSecondLine), kErrorSuccess);
    EXPECT_EQ(Sent(), LineReports(std::string(12, 'L'), kSecondLine));
    auto wide = MakePanel(1, 100);
    wide->BeginFrame().WriteLine(longText.c_str(), kSecondLine);
    const Reports sent = Sent();
    ASSERT_EQ(sent.size(), 64u);
    EXPECT_EQ(sent.back()[1], 0xBF) << "column 63 of the second line, not the first line's 0xC0";

    for (const int columns : {0, -3}) {
        auto none = MakePanel(1, columns);
        EXPECT_EQ(none->BeginFrame().WriteLine("abc", kFirstLine), kErrorSuccess);
        EXPECT_EQ(none->BeginFrame().WriteOrScrollLine("a long text for no columns", kFirstLine),
                  0u);
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PanelCommandsTest, LineEndsWhereTheConverterOutputEnds) {
    auto doubling = MakePanel(2, 12);
    doubling->BeginFrame().WriteLine("abc", kFirstLine);
    EXPECT_EQ(bus.Picture().Line(0, 12), "aabbcc      ");
    MakePanel(2, 64)->BeginFrame().WriteLine(std::string(500, 'x').c_str(), kFirstLine);
    EXPECT_EQ(bus.Picture().Line(0, 64), std::string(64, 'x'));

    PanelDevice bare(bus, nullptr, sleeper);  // no converter: bytes pass unchanged
    ASSERT_TRUE(bare.OpenPanel());
    bare.BeginFrame().WriteLine("\x82t\xE9", kFirstLine);
    EXPECT_EQ(bus.Picture().Line(0, 4), "\x82t\xE9 ");
}

TEST_F(PanelCommandsTest, VolumeBarThresholdsAndBrightness) {
    const struct {
        std::uint16_t volume;
        std::uint16_t mask;
    } cases[] = {{0, 0x0001},     {1233, 0x0001},  {1234, 0x0003},  {1466, 0x0003},
                 {1467, 0x0007},  {2072, 0x000F},  {2463, 0x001F},  {2927, 0x003F},
                 {3479, 0x007F},  {4134, 0x00FF},  {5841, 0x01FF},  {6942, 0x03FF},
                 {8250, 0x07FF},  {9806, 0x0FFF},  {16462, 0x1FFF}, {23253, 0x3FFF},
                 {32845, 0x7FFF}, {55140, 0x7FFF}, {55141, 0xFFFF}, {65535, 0xFFFF}};
    for (const auto& c : cases) {
        EXPECT_EQ(panel->BeginFrame().SetVolumeBar(c.volume), kErrorSuccess);
        EXPECT_EQ(Sent(), Reports{R({4, static_cast<std::uint8_t>(c.mask & 0xFF),
                                     static_cast<std::uint8_t>(c.mask >> 8)})})
            << "volume " << c.volume;
    }
    EXPECT_EQ(panel->BeginFrame().SetBrightness(0xAF), kErrorSuccess);
    EXPECT_EQ(Sent(), Reports{R({2, 0xAF})});
}

TEST_F(PanelCommandsTest, IconCodesSetAndClearBitsAndAlwaysSendTheWholeByte) {
    for (const int code : {16, 16, 128, 64, -17, 4, -5, -129})
        panel->BeginFrame().SetStatusIcon(code);
    EXPECT_EQ(Sent(), (Reports{R({5, 0x10}), R({5, 0x10}), R({5, 0x90}), R({5, 0xD0}), R({5, 0xC0}),
                               R({5, 0xC4}), R({5, 0xC0}), R({5, 0x40})}));
    EXPECT_EQ(panel->StatusIconByte(), 0x40);

    // Media code 4 is the video CD pair; -9 clears only 0x08, -5 clears both.
    for (const int code : {4, -9, 8, 32, -5}) panel->BeginFrame().SetMediaIcon(code);
    EXPECT_EQ(Sent(),
              (Reports{R({6, 0x0C}), R({6, 0x04}), R({6, 0x0C}), R({6, 0x2C}), R({6, 0x20})}));
    EXPECT_EQ(panel->MediaIconByte(), 0x20);
}

TEST_F(PanelCommandsTest, ClearPanelOrderFlagsAndUntouchedCaches) {
    panel->BeginFrame().SetStatusIcon(64);
    panel->BeginFrame().SetMediaIcon(2);
    Sent();
    const struct {
        std::int32_t flags;
        std::uint8_t value;
        Reports expected;
    } cases[] = {
        {3, 7, {R({3, 7}), R({5, 0}), R({6, 0}), R({4, 0, 0})}},  // acts as flag 1 only
        {kClearIcons, 9, {R({5, 0}), R({6, 0})}},
        {kClearVolumeBar | kClearDisplayControl, 9, {R({4, 0, 0})}},
        {kClearDisplayControl, 2, {R({3, 2})}},
        {0x10, 2, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(panel->BeginFrame().ClearPanel(c.flags, c.value), kErrorSuccess);
        EXPECT_EQ(Sent(), c.expected) << "flags " << c.flags;
    }
    // The caches survive: the next icon command sends the old byte with its one change.
    panel->BeginFrame().SetStatusIcon(16);
    panel->BeginFrame().SetMediaIcon(-3);
    EXPECT_EQ(Sent(), (Reports{R({5, 0x50}), R({6, 0x00})}));
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
    panel->BeginFrame().SetStatusIcon(16);
    panel->BeginFrame().SetStatusIcon(-17);
    Sent();
    for (const auto& c : cases) {
        EXPECT_EQ(panel->BeginFrame().ShowTransportState(c.state), 1u);
        Reports expected;
        for (std::uint8_t b : c.bytes) expected.push_back(R({5, b}));
        EXPECT_EQ(Sent(), expected) << "state " << c.state;
        EXPECT_EQ(panel->StatusIconByte(), c.lit);
    }
    EXPECT_EQ(panel->BeginFrame().ShowTransportState(5), 1u);
    EXPECT_EQ(panel->BeginFrame().ShowTransportState(-1), 1u);
    EXPECT_TRUE(Sent().empty());
}

TEST(VirtualPanel, DecodesEveryReportIntoThePicture) {
    VirtualPanelBus bus(VirtualDeviceConfig{});
    std::size_t seen = 0;
    bus.SetObserver([&](std::size_t, const Report&, const PanelPicture& p) {
        EXPECT_EQ(p.decodedReports + p.ignoredReports, ++seen);
    });
    auto device = bus.Open(bus.EnumerateInterfaces().at(0));
    ASSERT_NE(device, nullptr);
    for (const Report& r : {R({1, 0xC0, 'A'}), R({1, 0xFF, 'Z'}), R({1, 0x81, 0x82}),
                            R({1, 0x01, 'q'}),  // no line code: ignored
                            R({2, 0xA4}), R({3, 5}), R({4, 0xFF, 0x03}), R({5, 0x91}), R({6, 0x0C}),
                            R({9, 1})}) {  // unknown id
        EXPECT_EQ(device->Write(r.data(), r.size()), 0u);
    }
    const PanelPicture p = bus.Picture();
    EXPECT_EQ(p.Line(0, 3), "A  ");
    EXPECT_EQ(p.lines[0][63], 'Z');
    EXPECT_EQ(p.Line(1, 2), " \x82");
    EXPECT_EQ(p.brightness, 0xA4);
    EXPECT_EQ(p.displayControl, 5);
    EXPECT_EQ(p.VolumeSegments(), 10);
    EXPECT_EQ(StatusIconNames(p.statusIcons), (std::vector<std::string>{"play", "mute", "repeat"}));
    EXPECT_EQ(MediaIconNames(p.mediaIcons), (std::vector<std::string>{"VCD", "CD"}));
    EXPECT_EQ(p.ignoredReports, 2u);
    EXPECT_EQ(seen, 10u);
    bus.ClearReports();
    EXPECT_EQ(bus.ReportCount(), 0u);
    EXPECT_EQ(bus.Picture().brightness, 0xA4) << "clearing the log keeps the picture";
    EXPECT_EQ(bus.Picture(7).Line(0, 12), std::string(12, ' '));  // unknown device: blank
}

TEST(VirtualPanel, HandlesOutliveTheBusAndUnpluggedDevicesAreNotListed) {
    std::unique_ptr<HidDevice> device;
    {
        VirtualPanelBus bus(VirtualDeviceConfig{});
        bus.AddDevice(VirtualDeviceConfig{});
        device = bus.Open("virtual-hid#1");
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(bus.Open("no such path"), nullptr);
        bus.SetUnplugged(0, true, 0);
        EXPECT_EQ(bus.EnumerateInterfaces(), std::vector<std::string>{"virtual-hid#1"});
        EXPECT_EQ(bus.Open("virtual-hid#0"), nullptr);
    }
    const std::uint8_t report[] = {5, 1};
    EXPECT_EQ(device->Write(report, 2), 0u);
}

TEST(VirtualPanel, KeepsOnlyTheNewestReportsButCountsThemAll) {
    VirtualPanelBus bus(VirtualDeviceConfig{});
    std::unique_ptr<HidDevice> device = bus.Open("virtual-hid#0");
    ASSERT_NE(device, nullptr);
    const std::size_t total = kVirtualPanelHistory + 50;
    for (std::size_t i = 0; i < total; ++i) {
        const std::uint8_t report[] = {kVolumeBarReport, static_cast<std::uint8_t>(i),
                                       static_cast<std::uint8_t>(i >> 8)};
        ASSERT_EQ(device->Write(report, sizeof report), 0u);
    }
    EXPECT_EQ(bus.ReportCount(), total);
    const auto reports = bus.Reports();
    ASSERT_EQ(reports.size(), kVirtualPanelHistory);
    EXPECT_EQ(reports.front(), (std::vector<std::uint8_t>{kVolumeBarReport, 50, 0}));
    EXPECT_EQ(reports.back()[1] | reports.back()[2] << 8, static_cast<int>(total - 1));
    bus.ClearReports();
    EXPECT_EQ(bus.ReportCount(), 0u);
    EXPECT_TRUE(bus.Reports().empty());
}

}  // namespace
}  // namespace zelk
