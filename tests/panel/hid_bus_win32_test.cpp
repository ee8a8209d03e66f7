// The SetupAPI/HID bus on the system it runs on (under Wine: Wine's own virtual HID devices,
// and no panel).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "service/panel/hid_bus.h"

namespace zelk {
namespace {

TEST(Win32HidBus, ListsPresentInterfacesWithReadableIdsAndLengths) {
    auto bus = CreateSystemHidBus();
    ASSERT_NE(bus, nullptr);
    const std::vector<std::string> paths = bus->EnumerateInterfaces();
    ASSERT_FALSE(paths.empty()) << "Wine lists virtual HID devices of its own";
    int opened = 0;
    int wineDevices = 0;
    int lengthsRead = 0;
    for (const std::string& path : paths) {
        auto device = bus->Open(path);
        if (!device) continue;
        ++opened;
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        wineDevices += device->GetAttributes(vendor, product) && vendor == 0x845E;
        std::uint16_t length = 0;
        if (device->GetOutputReportLength(length) == 0) {
            ++lengthsRead;
            EXPECT_LE(length, 4096u) << path;
        }
    }
    EXPECT_GT(opened, 0);
    EXPECT_GT(wineDevices, 0);
    EXPECT_GT(lengthsRead, 0);
    std::printf("%zu HID interfaces, %d opened, %d of vendor 0x845E, %d lengths read\n",
                paths.size(), opened, wineDevices, lengthsRead);
}

}  // namespace
}  // namespace zelk
