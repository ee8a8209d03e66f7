// The parsers behind the hidraw bus: ids from a uevent text, output report length from a
// report descriptor.
#include <gtest/gtest.h>

#include <vector>

#include "service/panel/panel_hid_parse.h"

namespace zelk {
namespace {

std::uint16_t Length(const std::vector<std::uint8_t>& d) {
    return OutputReportLengthFromDescriptor(d.data(), d.size());
}

TEST(HidDescriptor, LongestOutputReportPlusTheIdByte) {
    // Vendor collection with output reports 1 (7 bytes) and 2 (2 bytes), and an input report.
    const std::vector<std::uint8_t> panel = {
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // usage page, usage, collection
        0x85, 0x01, 0x75, 0x08, 0x95, 0x07, 0x09, 0x01, 0x91, 0x02,  // id 1: 7 x 8 bits out
        0x85, 0x02, 0x95, 0x02, 0x91, 0x02,                          // id 2: 2 x 8 bits out
        0x85, 0x03, 0x95, 0x20, 0x81, 0x02,                          // id 3: 32 bytes in
        0xC0};
    EXPECT_EQ(Length(panel), 8);

    // No report ids: the id byte is still counted.
    EXPECT_EQ(Length({0x75, 0x08, 0x95, 0x03, 0x91, 0x02}), 4);
    // Several output items of one report add up, bits rounded up to bytes.
    EXPECT_EQ(Length({0x75, 0x01, 0x95, 0x05, 0x91, 0x02, 0x75, 0x03, 0x95, 0x01, 0x91, 0x03}), 2);
    EXPECT_EQ(Length({0x75, 0x01, 0x95, 0x09, 0x91, 0x02}), 3);
    // Inputs and features only.
    EXPECT_EQ(Length({0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0xB1, 0x02}), 0);
    EXPECT_EQ(Length({}), 0);
    EXPECT_EQ(OutputReportLengthFromDescriptor(nullptr, 10), 0);
}

TEST(HidDescriptor, PushPopLongItemsWideDataAndTruncation) {
    // Push keeps size 8 / count 2 while 16 x 4 is used once; 64 + 16 bits = 10 bytes.
    EXPECT_EQ(Length({0x75, 0x08, 0x95, 0x02, 0xA4, 0x75, 0x10, 0x95, 0x04, 0x91, 0x02, 0xB4, 0x91,
                      0x02}),
              11);
    // A pop without a push changes nothing.
    EXPECT_EQ(Length({0x75, 0x08, 0x95, 0x02, 0xB4, 0x91, 0x02}), 3);
    // A long item is passed over whole.
    EXPECT_EQ(Length({0xFE, 0x02, 0x10, 0x91, 0x02, 0x75, 0x08, 0x95, 0x05, 0x91, 0x02}), 6);
    // A four-byte count.
    EXPECT_EQ(Length({0x75, 0x08, 0x97, 0x06, 0x00, 0x00, 0x00, 0x91, 0x02}), 7);
    // Cut inside an item: what came before still counts, the broken item does not.
    EXPECT_EQ(Length({0x75, 0x08, 0x95, 0x02, 0x91, 0x02, 0x95}), 3);
    EXPECT_EQ(Length({0x75, 0x08, 0x95, 0x02, 0x91, 0x02, 0xFE, 0x09}), 3);
    // Absurd sizes are capped, not wrapped.
    EXPECT_EQ(Length({0x75, 0xFF, 0x96, 0xFF, 0xFF, 0x91, 0x02}), 0xFFFF);
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
