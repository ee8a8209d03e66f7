// The parsers behind the hidraw bus: ids from a uevent text, output report length from a
// report descriptor.
#include <gtest/gtest.h>

#include <vector>

#include "service/panel/panel_hid_parse.h"

namespace zelk {
namespace {

TEST(HidDescriptor, LongestOutputReportPlusTheIdByte) {
    const struct {
        const char* what;
        std::vector<std::uint8_t> descriptor;
        std::uint16_t length;
    } cases[] = {
        {"vendor collection: out 1 of 7 bytes, out 2 of 2 bytes, in 3 of 32 bytes",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x07, 0x09, 0x01,
          0x91, 0x02, 0x85, 0x02, 0x95, 0x02, 0x91, 0x02, 0x85, 0x03, 0x95, 0x20, 0x81, 0x02, 0xC0},
         8},
        {"no report ids: the id byte still counts", {0x75, 0x08, 0x95, 0x03, 0x91, 0x02}, 4},
        {"items of one report add up, bits rounded up",
         {0x75, 0x01, 0x95, 0x05, 0x91, 0x02, 0x75, 0x03, 0x95, 0x01, 0x91, 0x03},
         2},
        {"nine bits", {0x75, 0x01, 0x95, 0x09, 0x91, 0x02}, 3},
        {"inputs and features only", {0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0xB1, 0x02}, 0},
        {"empty", {}, 0},
        {"push keeps 8 x 2 while 16 x 4 is used once",
         {0x75, 0x08, 0x95, 0x02, 0xA4, 0x75, 0x10, 0x95, 0x04, 0x91, 0x02, 0xB4, 0x91, 0x02},
         11},
        {"pop without push", {0x75, 0x08, 0x95, 0x02, 0xB4, 0x91, 0x02}, 3},
        {"long item passed over whole",
         {0xFE, 0x02, 0x10, 0x91, 0x02, 0x75, 0x08, 0x95, 0x05, 0x91, 0x02},
         6},
        {"four-byte count", {0x75, 0x08, 0x97, 0x06, 0x00, 0x00, 0x00, 0x91, 0x02}, 7},
        {"cut inside a short item", {0x75, 0x08, 0x95, 0x02, 0x91, 0x02, 0x95}, 3},
        {"cut inside a long item", {0x75, 0x08, 0x95, 0x02, 0x91, 0x02, 0xFE, 0x09}, 3},
        {"longest that fits", {0x75, 0x08, 0x96, 0xFE, 0xFF, 0x91, 0x02}, 0xFFFF},
        {"one byte more: no usable length", {0x75, 0x08, 0x96, 0xFF, 0xFF, 0x91, 0x02}, 0},
        {"absurd sizes refused", {0x75, 0xFF, 0x96, 0xFF, 0xFF, 0x91, 0x02}, 0},
        {"a sum that would wrap 64 bits to 2 bytes",
         {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF,
          0xFF, 0x91, 0x02,                                       // 2^32-1 x 2^32-1
          0x75, 0x04, 0x97, 0x00, 0x00, 0x00, 0x80, 0x91, 0x02},  // 4 x 2^31
         0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OutputReportLengthFromDescriptor(c.descriptor.data(), c.descriptor.size()),
                  c.length)
            << c.what;
    }
    EXPECT_EQ(OutputReportLengthFromDescriptor(nullptr, 10), 0);
}

TEST(HidUevent, IdsFromTheHidIdLine) {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    EXPECT_TRUE(ParseUeventHidId(
        "DRIVER=hid-generic\nHID_ID=0003:00001F3C:00005A41\nHID_NAME=Panel\n", vendor, product));
    EXPECT_EQ(vendor, 0x1F3C);
    EXPECT_EQ(product, 0x5A41);
    EXPECT_TRUE(ParseUeventHidId("HID_ID=0003:0000845e:00000001", vendor, product));
    EXPECT_EQ(vendor, 0x845E);
    EXPECT_EQ(product, 0x0001);

    vendor = 7;
    product = 7;
    for (const char* bad :
         {"", "DRIVER=hid-generic\n", "HID_ID=0003:00001F3C\n", "HID_ID=0003:00011F3C:00005A41\n",
          "HID_ID=0003:0000XF3C:00005A41\n", "HID_ID=0003::00005A41\n",
          "HID_ID=0003:000000001F3C:00005A41\n", "XHID_ID=0003:00001F3C:00005A41\n"}) {
        EXPECT_FALSE(ParseUeventHidId(bad, vendor, product)) << bad;
    }
    EXPECT_EQ(vendor, 7) << "left untouched on failure";
    EXPECT_EQ(product, 7);
}

}  // namespace
}  // namespace zelk
