// The hidraw bus over a prepared class directory and regular files standing in for the nodes.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

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

// Output reports 1 and 2 of up to 7 bytes: length 8.
const std::vector<std::uint8_t> kPanelDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85,
                                                    0x01, 0x75, 0x08, 0x95, 0x07, 0x91, 0x02, 0x85,
                                                    0x02, 0x95, 0x02, 0x91, 0x02, 0xC0};

class HidrawBusTest : public ::testing::Test {
  protected:
    HidrawBusTest() {
        char pattern[] = "/tmp/hidraw-test-XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directories(root / "class");
        fs::create_directories(root / "dev");
    }
    ~HidrawBusTest() override { fs::remove_all(root); }

    void AddNode(const std::string& name, const std::string& uevent,
                 const std::vector<std::uint8_t>& descriptor) {
        const fs::path device = root / "class" / name / "device";
        fs::create_directories(device);
        if (!uevent.empty()) {
            std::ofstream(device / "uevent") << uevent;
        }
        std::ofstream out(device / "report_descriptor", std::ios::binary);
        out.write(reinterpret_cast<const char*>(descriptor.data()),
                  static_cast<std::streamsize>(descriptor.size()));
        std::ofstream(root / "dev" / name);  // the node: an empty file
    }
    std::vector<std::uint8_t> NodeBytes(const std::string& name) {
        std::ifstream in(root / "dev" / name, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>());
    }
    std::unique_ptr<HidBus> Bus() {
        return CreateHidrawBus((root / "class").string(), (root / "dev").string());
    }

    fs::path root;
};

TEST_F(HidrawBusTest, ListsNodesInNumberOrderWithIdsAndLengths) {
    AddNode("hidraw10", "HID_ID=0003:00001F3C:00005A41\n", kPanelDescriptor);
    AddNode("hidraw2", "DRIVER=hid-generic\nHID_ID=0003:0000845E:00000001\n", {});
    fs::create_directories(root / "class" / "not-a-node");
    auto bus = Bus();
    const std::vector<std::string> paths = bus->EnumerateInterfaces();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], (root / "dev" / "hidraw2").string());
    EXPECT_EQ(paths[1], (root / "dev" / "hidraw10").string());

    auto keyboard = bus->Open(paths[0]);
    ASSERT_NE(keyboard, nullptr);
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    ASSERT_TRUE(keyboard->GetAttributes(vendor, product));
    EXPECT_EQ(vendor, 0x845E);
    std::uint16_t length = 99;
    EXPECT_EQ(keyboard->GetOutputReportLength(length), kErrorSuccess);
    EXPECT_EQ(length, 0) << "no output report in an empty descriptor";

    auto panel = bus->Open(paths[1]);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->GetOutputReportLength(length), kErrorSuccess);
    EXPECT_EQ(length, 8);
    const std::uint8_t report[] = {5, 0x10, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(panel->Write(report, sizeof(report)), kErrorSuccess);
    EXPECT_EQ(NodeBytes("hidraw10"), std::vector<std::uint8_t>(report, report + 8));

    EXPECT_EQ(bus->Open((root / "dev" / "hidraw7").string()), nullptr);
}

TEST_F(HidrawBusTest, PanelDeviceFindsThePanelAndSkipsUnreadableIds) {
    AddNode("hidraw0", "", kPanelDescriptor);  // no uevent; the ids cannot be read
    AddNode("hidraw1", "HID_ID=0003:00001F3C:00005A40\n", kPanelDescriptor);
    AddNode("hidraw3", "HID_ID=0003:00001F3C:00005A41\n", kPanelDescriptor);
    auto bus = Bus();
    test::RecordingSleeper sleeper;
    PanelDevice panel(*bus, std::make_unique<test::IdentityConverter>(), sleeper);
    ASSERT_TRUE(panel.OpenPanel());
    EXPECT_EQ(panel.SetVolumeBar(1234), kErrorSuccess);
    EXPECT_EQ(NodeBytes("hidraw3"), (std::vector<std::uint8_t>{4, 3, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(NodeBytes("hidraw0").empty());
    EXPECT_TRUE(NodeBytes("hidraw1").empty());
}

TEST_F(HidrawBusTest, MissingClassDirectoryListsNothing) {
    auto bus = CreateHidrawBus((root / "absent").string(), (root / "dev").string());
    EXPECT_TRUE(bus->EnumerateInterfaces().empty());
}

}  // namespace
}  // namespace zelk
