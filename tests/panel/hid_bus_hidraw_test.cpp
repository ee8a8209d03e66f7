// The hidraw bus over a prepared class directory and regular files standing in for the nodes.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "service/panel/hid_bus_hidraw.h"
#include "service/panel/panel_device.h"
#include "tests/panel/panel_test_fakes.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Output reports 1 and 2 of up to 7 bytes: length 8.
const Bytes kPanelDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08,
                                0x95, 0x07, 0x91, 0x02, 0x85, 0x02, 0x95, 0x02, 0x91, 0x02, 0xC0};

class HidrawBusTest : public ::testing::Test {
  protected:
    HidrawBusTest() {
        char pattern[] = "/tmp/hidraw-test-XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directories(root / "dev");
        fs::create_directories(root / "class" / "not-a-node");
    }
    ~HidrawBusTest() override { fs::remove_all(root); }

    void AddNode(const std::string& name, const std::string& uevent, const Bytes& descriptor) {
        const fs::path device = root / "class" / name / "device";
        fs::create_directories(device);
        if (!uevent.empty()) std::ofstream(device / "uevent") << uevent;
        std::ofstream(device / "report_descriptor", std::ios::binary)
            .write(reinterpret_cast<const char*>(descriptor.data()),
                   static_cast<std::streamsize>(descriptor.size()));
        std::ofstream(root / "dev" / name);  // the node: an empty file
    }
    Bytes NodeBytes(const std::string& name) {
        std::ifstream in(root / "dev" / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string Dev(const std::string& name) { return (root / "dev" / name).string(); }

    fs::path root;
};

TEST_F(HidrawBusTest, ListsNodesInNumberOrderWithIdsAndLengths) {
    EXPECT_TRUE(CreateHidrawBus((root / "absent").string(), (root / "dev").string())
                    ->EnumerateInterfaces()
                    .empty());
    AddNode("hidraw10", "HID_ID=0003:00001F3C:00005A41\n", kPanelDescriptor);
    AddNode("hidraw2", "DRIVER=hid-generic\nHID_ID=0003:0000845E:00000001\n", {});
    auto bus = CreateHidrawBus((root / "class").string(), (root / "dev").string());
    ASSERT_EQ(bus->EnumerateInterfaces(),
              (std::vector<std::string>{Dev("hidraw2"), Dev("hidraw10")}));

    auto keyboard = bus->Open(Dev("hidraw2"));
    ASSERT_NE(keyboard, nullptr);
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    ASSERT_TRUE(keyboard->GetAttributes(vendor, product));
    EXPECT_EQ(vendor, 0x845E);
    std::uint16_t length = 99;
    EXPECT_EQ(keyboard->GetOutputReportLength(length), kErrorSuccess);
    EXPECT_EQ(length, 0) << "no output report in an empty descriptor";
    EXPECT_EQ(bus->Open(Dev("hidraw7")), nullptr);
}

TEST_F(HidrawBusTest, PanelDeviceFindsThePanelAndSkipsUnreadableIds) {
    AddNode("hidraw0", "", kPanelDescriptor);  // no uevent; the ids cannot be read
    AddNode("hidraw1", "HID_ID=0003:00001F3C:00005A40\n", kPanelDescriptor);
    AddNode("hidraw3", "HID_ID=0003:00001F3C:00005A41\n", kPanelDescriptor);
    auto bus = CreateHidrawBus((root / "class").string(), (root / "dev").string());
    test::RecordingSleeper sleeper;
    PanelDevice panel(*bus, nullptr, sleeper);
    ASSERT_TRUE(panel.OpenPanel());
    EXPECT_EQ(panel.BeginFrame().SetVolumeBar(1234),
              kErrorSuccess);  // the length read from the descriptor
    EXPECT_EQ(NodeBytes("hidraw3"), (Bytes{4, 3, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(NodeBytes("hidraw0").empty());
    EXPECT_TRUE(NodeBytes("hidraw1").empty());
}

TEST_F(HidrawBusTest, ArrivalNoticesAreNewHidrawNodesAndACancelEndsTheWait) {
    auto bus = CreateHidrawBus((root / "class").string(), (root / "dev").string());
    EXPECT_TRUE(bus->WaitForArrival(0)) << "the first wait sets up the watch";
    std::ofstream(root / "dev" / "ttyS9");  // not a hidraw node: no notice
    EXPECT_FALSE(bus->WaitForArrival(50));
    std::ofstream(root / "dev" / "hidraw3");
    EXPECT_TRUE(bus->WaitForArrival(5000));
    EXPECT_FALSE(bus->WaitForArrival(0)) << "each notice is given once";
    bus->CancelArrivalWait();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(bus->WaitForArrival(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace zelk
