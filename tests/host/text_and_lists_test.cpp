// Failure texts and the NUL-separated string lists.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "service/host/error_text.h"
#include "service/host/multi_sz.h"

namespace zelk {
namespace {

using ::testing::ElementsAre;
using namespace std::string_literals;

TEST(ErrorText, EventAndMessageTextsCodesAndInsertions) {
    constexpr char kPair[] = "%1, %2";
    constexpr char kOpenScm[] = "LumaraService::Install, Failed call to open SCM, Error:%1";
    EXPECT_EQ(ComposeErrorText(kPair, kOpenScm, 5, "Access is denied.\r\n", true),
              "5, Access is denied.\r\n");
    // A code the system cannot describe: the decimal, a comma and a blank only.
    EXPECT_EQ(ComposeErrorText(kPair, kOpenScm, 12345678, "", true), "12345678, ");
    EXPECT_EQ(ComposeErrorText(kPair, kOpenScm, 5, "Access is denied.\r\n", false),
              "LumaraService::Install, Failed call to open SCM, Error:5, Access is denied.\r\n");
    // A message id missing from the table gives an empty text, not garbage.
    EXPECT_EQ(ComposeErrorText(kPair, "", 5, "x", false), "");
    EXPECT_EQ(ErrorCodeDecimal(1460), "1460");
    EXPECT_EQ(ErrorCodeDecimal(0x80070005u), "-2147024891");  // signed
    // Insertions are filled once and not rescanned.
    EXPECT_EQ(FillInsertions("%2-%1-%3 100%", {"a", "%2"}), "%2-a- 100%");
    EXPECT_EQ(FillInsertions("%%1", {"x"}), "%x");
}

TEST(MultiSz, ParseStopsAtTheFirstEmptyStringAndNeverReadsPastTheSize) {
    const std::string value = "one\0two\0\0three\0\0"s;
    EXPECT_THAT(ParseMultiSz(value.data(), value.size()), ElementsAre("one", "two"));
    // Cut short without its closing NULs: the last string still counts.
    const std::string cut = "one\0tw"s;
    EXPECT_THAT(ParseMultiSz(cut.data(), cut.size()), ElementsAre("one", "tw"));
    EXPECT_THAT(ParseMultiSz(value.data(), 2), ElementsAre("on"));
    EXPECT_TRUE(ParseMultiSz("\0"s.data(), 1).empty());
    EXPECT_TRUE(ParseMultiSz(nullptr, 10).empty());
}

TEST(MultiSz, BuildAddAndRemove) {
    EXPECT_EQ(BuildMultiSz({"Application", "Tarsel"}), "Application\0Tarsel\0\0"s);
    EXPECT_EQ(BuildMultiSz({}), "\0"s);
    const std::vector<char> two = BuildDependencies({"RpcSs", "HidServ"});
    EXPECT_EQ(std::string(two.begin(), two.end()), "RpcSs\0HidServ\0\0\0"s);

    // Add only when the exact name is absent; remove only the first exact entry.
    std::vector<std::string> list = {"A", "svc", "B"};
    EXPECT_FALSE(AddListEntry(list, "A"));
    EXPECT_TRUE(AddListEntry(list, "Svc"));
    EXPECT_FALSE(AddListEntry(list, "Svc"));
    list.push_back("Svc");
    EXPECT_TRUE(RemoveFirstListEntry(list, "Svc"));
    EXPECT_THAT(list, ElementsAre("A", "svc", "B", "Svc"));
    EXPECT_FALSE(RemoveFirstListEntry(list, "SVC"));
    EXPECT_EQ(list.size(), 4u);
}

}  // namespace
}  // namespace zelk
