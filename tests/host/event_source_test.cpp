// The event log writer and the registration of the event source, against the fake system.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "service/host/event_log_source.h"
#include "tests/host/host_fakes.h"

namespace zelk {
namespace {

using ::testing::ElementsAre;
using namespace std::string_literals;
using test::FakeSystem;

constexpr char kSource[] = "Tarsel Front Panel Manager Service";
const std::string kApplication = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
const std::string kSourceKey = kApplication + "\\" + kSource;

class EventSourceTest : public ::testing::Test {
  protected:
    EventSourceTest() { system.AddKey(kApplication); }
    std::string Sources() const {
        const FakeSystem::Value* value = system.FindValue(kApplication, "Sources");
        return value == nullptr ? "<none>" : value->data;
    }

    FakeSystem system;
    EventLogSource source{system, system, "", kSource};
};

TEST_F(EventSourceTest, EachEventRegistersReportsAndDeregisters) {
    EXPECT_TRUE(source.LogEvent(kEventTypeInformation, kEventIdServiceStarted, kSource));
    EXPECT_TRUE(source.LogEventNumber(kEventTypeError, kEventIdStopFailed, 1052, false));
    EXPECT_TRUE(source.LogEventNumber(kEventTypeError, kEventIdStopFailed, 255, true));
    EXPECT_TRUE(
        source.LogEventWithNumber(kEventTypeError, kEventIdWaitFailed, "1460, Timeout", 4, false));
    EXPECT_EQ(system.open_handles, 0);  // no source stays open between events
    ASSERT_EQ(system.events.size(), 4u);
    for (const test::FakeEvent& event : system.events) EXPECT_EQ(event.source, kSource);
    EXPECT_EQ(system.events[0].id, 0x40000001u);
    EXPECT_EQ(system.events[0].type, 4);
    EXPECT_THAT(system.events[0].strings, ElementsAre(kSource));
    EXPECT_THAT(system.events[1].strings, ElementsAre("1052"));
    EXPECT_THAT(system.events[2].strings, ElementsAre("ff"));
    EXPECT_THAT(system.events[3].strings, ElementsAre("1460, Timeout", "4"));

    system.fail_register_source = 1722;
    EXPECT_FALSE(source.LogEvent(kEventTypeInformation, kEventIdServiceStarted, kSource));
    EXPECT_EQ(system.events.size(), 4u);
}

TEST_F(EventSourceTest, InstallWritesTheSourceKeyAndListsTheNameOnce) {
    EXPECT_TRUE(source.InstallEventSource(kSource, "x.DLL", 7));
    EXPECT_EQ(Sources(), "<none>");  // no list to extend
    system.PutMultiSz(kApplication, "Sources",
                      "Application\0tarsel front panel manager service\0\0"s);
    ASSERT_TRUE(source.InstallEventSource(kSource, "C:\\Lumara\\Lumara.DLL", 7));

    // The key's values as the system reads them are checked by the Wine test.
    const FakeSystem::Value* file = system.FindValue(kSourceKey, "EventMessageFile");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->data, "C:\\Lumara\\Lumara.DLL\0"s);  // with its NUL
    // An entry that differs only in case does not count: the exact name is appended.
    const std::string once =
        "Application\0tarsel front panel manager service\0Tarsel Front Panel Manager Service\0\0"s;
    EXPECT_EQ(Sources(), once);
    ASSERT_TRUE(source.InstallEventSource(kSource, "C:\\Lumara\\Lumara.DLL", 7));
    EXPECT_EQ(Sources(), once);
    EXPECT_EQ(system.open_handles, 0);
}

TEST_F(EventSourceTest, InstallFailsWhenAValueCannotBeWrittenAndKeepsThatError) {
    system.fail_set_value.insert("TypesSupported");
    EXPECT_FALSE(source.InstallEventSource(kSource, "x.DLL", 7));
    EXPECT_EQ(system.LastError(), 5u);  // not the "Sources" read failure that followed

    FakeSystem bare;  // no Application key at all
    EventLogSource lonely(bare, bare, "", kSource);
    EXPECT_FALSE(lonely.InstallEventSource(kSource, "x.DLL", 7));
    EXPECT_EQ(bare.LastError(), 2u);
    EXPECT_FALSE(lonely.InstallEventSource("", "x.DLL", 7));
}

TEST_F(EventSourceTest, RemoveDeletesTheKeyAndOnlyTheFirstListEntry) {
    ASSERT_TRUE(source.InstallEventSource(kSource, "x.DLL", 7));
    system.PutMultiSz(
        kApplication, "Sources",
        "A\0Tarsel Front Panel Manager Service\0B\0Tarsel Front Panel Manager Service\0\0"s);
    EXPECT_TRUE(source.RemoveEventSource(kSource));
    EXPECT_FALSE(system.HasKey(kSourceKey));
    EXPECT_EQ(Sources(), "A\0B\0Tarsel Front Panel Manager Service\0\0"s);

    // A missing key fails but the list is still cleaned.
    EXPECT_FALSE(source.RemoveEventSource(kSource));
    EXPECT_EQ(system.LastError(), 2u);
    EXPECT_EQ(Sources(), "A\0B\0\0"s);
    EXPECT_EQ(system.open_handles, 0);

    EXPECT_FALSE(source.RemoveEventSource(""));  // touches nothing
    EXPECT_TRUE(system.HasKey(kApplication));
}

}  // namespace
}  // namespace zelk
