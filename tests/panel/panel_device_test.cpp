// Finding the panel and writing reports to it, over the virtual bus.
#include <gtest/gtest.h>

#include "common/debug_print.h"
#include "service/panel/panel_device.h"
#include "service/panel/virtual_panel.h"
#include "tests/panel/panel_test_fakes.h"

namespace zelk {
namespace {

using test::R;
using test::RecordingSleeper;

constexpr const char* kNoMatch =
    "Searched through all HID devices and couldn't find a match. Returning FALSE.\n";

VirtualDeviceConfig Device(std::uint16_t vendor, std::uint16_t product, std::uint16_t length = 8) {
    VirtualDeviceConfig config;
    config.vendorId = vendor;
    config.productId = product;
    config.outputReportLength = length;
    return config;
}

class PanelDeviceTest : public ::testing::Test {
  protected:
    std::unique_ptr<PanelDevice> MakePanel() {
        return std::make_unique<PanelDevice>(bus, std::make_unique<test::IdentityConverter>(),
                                             sleeper);
    }
    VirtualPanelBus bus;
    RecordingSleeper sleeper;
};

TEST_F(PanelDeviceTest, ConstructorValuesAndNoDeviceAccess) {
    bus.AddDevice(Device(0x1F3C, 0x5A41));
    auto panel = MakePanel();
    EXPECT_EQ(panel->vendorId, 0x1F3C);
    EXPECT_EQ(panel->productId, 0x5A41);
    EXPECT_EQ(panel->displayRows, 2);
    EXPECT_EQ(panel->displayColumns, 12);
    EXPECT_FALSE(panel->colorDisplay);
    EXPECT_FALSE(panel->scrolling);
    EXPECT_EQ(panel->volumeControl, 0);
    EXPECT_EQ(panel->brightness, 0);
    EXPECT_EQ(panel->displayType, 0);
    EXPECT_EQ(panel->StatusIconByte(), 0);
    EXPECT_EQ(panel->MediaIconByte(), 0);
    EXPECT_FALSE(panel->IsOpen());
    EXPECT_EQ(bus.AccessCount(0), 0u);
}

TEST_F(PanelDeviceTest, NoPanelGivesFalseTheTraceAndWritesOfSixWithoutDeviceAccess) {
    bus.AddDevice(Device(0x845E, 0x0001));
    bus.AddDevice(Device(0x845E, 0x0002));
    auto panel = MakePanel();
    ScopedDebugCapture capture;
    EXPECT_FALSE(panel->OpenPanel());
    EXPECT_TRUE(capture.Contains(kNoMatch));
    EXPECT_FALSE(panel->IsOpen());

    const std::size_t before = bus.AccessCount(0) + bus.AccessCount(1);
    const std::uint8_t report[kReportSize] = {kStatusIconReport, 0x01};
    EXPECT_EQ(panel->WriteReport(report), kErrorInvalidHandle);
    EXPECT_EQ(panel->WriteLine("Hello", kFirstLine, false), kErrorInvalidHandle);
    EXPECT_EQ(bus.AccessCount(0) + bus.AccessCount(1), before);
    EXPECT_EQ(bus.ReportCount(0) + bus.ReportCount(1), 0u);
}

TEST_F(PanelDeviceTest, EmptyBusFindsNothing) {
    auto panel = MakePanel();
    ScopedDebugCapture capture;
    EXPECT_FALSE(panel->OpenPanel());
    EXPECT_TRUE(capture.Contains(kNoMatch));
}

TEST_F(PanelDeviceTest, SkipsWrongIdsUnopenableAndUnreadableInterfacesFirstMatchWins) {
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
    auto panel = MakePanel();
    ASSERT_TRUE(panel->OpenPanel());
    EXPECT_EQ(bus.OpenCount(5), 0u) << "the second match must never be opened";

    const std::uint8_t report[kReportSize] = {kMediaIconReport, 0x20};
    EXPECT_EQ(panel->WriteReport(report), kErrorSuccess);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(bus.ReportCount(i), 0u) << i;
    }
    ASSERT_EQ(bus.ReportCount(4), 1u);
    EXPECT_EQ(bus.Reports(4)[0], R({6, 0x20}));
}

TEST_F(PanelDeviceTest, ConfiguredIdsAreUsed) {
    bus.AddDevice(Device(0x1F3C, 0x5A41));
    bus.AddDevice(Device(0x1234, 0xABCD));
    auto panel = MakePanel();
    panel->vendorId = 0x1234;
    panel->productId = 0xABCD;
    ASSERT_TRUE(panel->OpenPanel());
    const std::uint8_t report[kReportSize] = {kBrightnessReport, 7};
    EXPECT_EQ(panel->WriteReport(report), kErrorSuccess);
    EXPECT_EQ(bus.ReportCount(0), 0u);
    EXPECT_EQ(bus.ReportCount(1), 1u);
}

TEST_F(PanelDeviceTest, ShortReportsSendTheLeadingBytesLongOnesAreZeroPadded) {
    bus.AddDevice(Device(0x1F3C, 0x5A41, 3));
    auto shortPanel = MakePanel();
    ASSERT_TRUE(shortPanel->OpenPanel());
    const std::uint8_t report[kReportSize] = {1, 0xC5, 'x', 9, 9, 9, 9, 9};
    EXPECT_EQ(shortPanel->WriteReport(report), kErrorSuccess);
    EXPECT_EQ(bus.Reports(0).back(), (test::Report{1, 0xC5, 'x'}));

    VirtualPanelBus longBus(Device(0x1F3C, 0x5A41, 16));
    PanelDevice longPanel(longBus, std::make_unique<test::IdentityConverter>(), sleeper);
    ASSERT_TRUE(longPanel.OpenPanel());
    EXPECT_EQ(longPanel.WriteReport(report), kErrorSuccess);
    test::Report expected(report, report + 8);
    expected.resize(16, 0);
    EXPECT_EQ(longBus.Reports(0).back(), expected);
    EXPECT_EQ(longBus.Picture(0).lines[0][5], 'x');
}

TEST_F(PanelDeviceTest, InterfaceWithoutOutputReportsIsAnErrorNotAnEmptyWrite) {
    bus.AddDevice(Device(0x1F3C, 0x5A41, 0));
    auto panel = MakePanel();
    ASSERT_TRUE(panel->OpenPanel());
    const std::uint8_t report[kReportSize] = {kStatusIconReport, 1};
    EXPECT_EQ(panel->WriteReport(report), kErrorGenFailure);
    EXPECT_EQ(bus.ReportCount(0), 0u);
}

TEST_F(PanelDeviceTest, UnpluggedPanelFailsEveryWriteAndIsNotReopened) {
    bus.AddDevice(Device(0x1F3C, 0x5A41));
    auto panel = MakePanel();
    ASSERT_TRUE(panel->OpenPanel());
    bus.SetUnplugged(0, true);
    const std::uint8_t report[kReportSize] = {kStatusIconReport, 1};
    EXPECT_EQ(panel->WriteReport(report), kErrorDeviceNotConnected);
    EXPECT_EQ(panel->WriteLine("abc", kSecondLine, false), kErrorDeviceNotConnected);
    const std::size_t opens = bus.OpenCount(0);
    bus.SetUnplugged(0, false);
    EXPECT_EQ(panel->WriteReport(report), kErrorSuccess);  // the same handle, back again
    EXPECT_EQ(bus.OpenCount(0), opens);
}

TEST(VirtualPanel, DecodesEveryReportIntoThePicture) {
    VirtualPanelBus bus(VirtualDeviceConfig{});
    std::vector<std::size_t> seen;
    bus.SetObserver([&](std::size_t device, const test::Report& report, const PanelPicture& p) {
        seen.push_back(device);
        EXPECT_EQ(report.size(), 8u);
        EXPECT_EQ(p.decodedReports + p.ignoredReports, seen.size());
    });
    auto device = bus.Open(bus.EnumerateInterfaces().at(0));
    ASSERT_NE(device, nullptr);
    auto send = [&](test::Report r) { EXPECT_EQ(device->Write(r.data(), r.size()), 0u); };
    send(R({1, 0xC0, 'A'}));
    send(R({1, 0xFF, 'Z'}));  // first line, column 63
    send(R({1, 0x81, 0x82}));
    send(R({1, 0x01, 'q'}));  // no line code: ignored
    send(R({2, 0xA4}));
    send(R({3, 5}));
    send(R({4, 0xFF, 0x03}));
    send(R({5, 0x91}));
    send(R({6, 0x0C}));
    send(R({9, 1}));  // unknown id
    const PanelPicture p = bus.Picture();
    EXPECT_EQ(p.Line(0, 3), "A  ");
    EXPECT_EQ(p.lines[0][63], 'Z');
    EXPECT_EQ(p.Line(1, 2), " \x82");
    EXPECT_EQ(p.brightness, 0xA4);
    EXPECT_EQ(p.displayControl, 5);
    EXPECT_EQ(p.volumeMask, 0x03FF);
    EXPECT_EQ(p.VolumeSegments(), 10);
    EXPECT_EQ(StatusIconNames(p.statusIcons), (std::vector<std::string>{"play", "mute", "repeat"}));
    EXPECT_EQ(MediaIconNames(p.mediaIcons), (std::vector<std::string>{"VCD", "CD"}));
    EXPECT_EQ(p.decodedReports, 8u);
    EXPECT_EQ(p.ignoredReports, 2u);
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(bus.ReportCount(), 10u);
    bus.ClearReports();
    EXPECT_EQ(bus.ReportCount(), 0u);
    EXPECT_EQ(bus.Picture().brightness, 0xA4) << "clearing the log keeps the picture";
    EXPECT_EQ(bus.Picture(7).Line(0, 12), std::string(12, ' '));  // unknown device: blank
    EXPECT_EQ(bus.ReportCount(7), 0u);
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

}  // namespace
}  // namespace zelk
