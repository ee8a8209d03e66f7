// The event log writer and the registration of the event source, against the fake system.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "service/host/event_log_source.h"
#include "tests/host/host_fakes.h"

namespace zelk {
namespace {

using ::testing::ElementsAre;
using namespace std::string_literals;
using testing::FakeSystem;

constexpr char kSource[] = "Tarsel Front Panel Manager Service";
const std::string kApplication = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
const std::string kSourceKey = kApplication + "\\" + kSource;

class EventSourceTest : public ::testing::Test {
  protected:
    EventSourceTest() { system.AddKey(kApplication); }
    std::string Sources() const {
        const FakeSystem::Value* value = system.FindValue(kApplication, "Sources");
        return value == nullptr ? "<none>" : std::string(value->data.begin(), value->data.end());
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
    EXPECT_EQ(system.registered_sources, 0);  // nothing stays open between events
    EXPECT_EQ(system.open_handles, 0);
    EXPECT_THAT(system.registered_names, ElementsAre(kSource, kSource, kSource, kSource));
    ASSERT_EQ(system.events.size(), 4u);
    EXPECT_EQ(system.events[0].id, 0x40000001u);
    EXPECT_EQ(system.events[0].type, 4);
    EXPECT_THAT(system.events[0].strings, ElementsAre(kSource));
    EXPECT_THAT(system.events[1].strings, ElementsAre("1052"));
    EXPECT_THAT(system.events[2].strings, ElementsAre("ff"));
    EXPECT_THAT(system.events[3].strings, ElementsAre("1460, Timeout", "4"));
}

TEST_F(EventSourceTest, UnregisterableSourceReportsNothingAndFails) {
    system.fail_register_source = 1722;
    EXPECT_FALSE(source.LogEvent(kEventTypeInformation, kEventIdServiceStarted, kSource));
    EXPECT_TRUE(system.events.empty());
}

TEST_F(EventSourceTest, InstallWritesTheSourceKeyAndListsTheNameOnce) {
    system.PutMultiSz(kApplication, "Sources",
                      "Application\0tarsel front panel manager service\0\0"s);
    ASSERT_TRUE(source.InstallEventSource(kSource, "C:\\Lumara\\Lumara.DLL", 7));

    const FakeSystem::Value* file = system.FindValue(kSourceKey, "EventMessageFile");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->type, kRegSz);
    EXPECT_EQ(std::string(file->data.begin(), file->data.end()), "C:\\Lumara\\Lumara.DLL\0"s);
    const FakeSystem::Value* types = system.FindValue(kSourceKey, "TypesSupported");
    ASSERT_NE(types, nullptr);
    EXPECT_EQ(types->type, kRegDword);
    std::uint32_t value = 0;
    ASSERT_EQ(types->data.size(), sizeof(value));
    std::memcpy(&value, types->data.data(), sizeof(value));
    EXPECT_EQ(value, 7u);
    // An entry that differs only in case does not count: the exact name is appended.
    const std::string once =
        "Application\0tarsel front panel manager service\0Tarsel Front Panel Manager Service\0\0"s;
    EXPECT_EQ(Sources(), once);

    ASSERT_TRUE(source.InstallEventSource(kSource, "C:\\Lumara\\Lumara.DLL", 7));
    EXPECT_EQ(Sources(), once);
    EXPECT_EQ(system.open_handles, 0);
}

TEST_F(EventSourceTest, InstallWithoutASourcesListWritesNoList) {
    EXPECT_TRUE(source.InstallEventSource(kSource, "x.DLL", 7));
    EXPECT_EQ(Sources(), "<none>");
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
}

TEST_F(EventSourceTest, RemoveOfAMissingKeyFailsButStillCleansTheList) {
    system.PutMultiSz(kApplication, "Sources", "Tarsel Front Panel Manager Service\0A\0\0"s);
    EXPECT_FALSE(source.RemoveEventSource(kSource));
    EXPECT_EQ(system.LastError(), 2u);
    EXPECT_EQ(Sources(), "A\0\0"s);
    EXPECT_EQ(system.open_handles, 0);
}

TEST_F(EventSourceTest, RemoveWithAnEmptyNameTouchesNothing) {
    EXPECT_FALSE(source.RemoveEventSource(""));
    EXPECT_TRUE(system.HasKey(kApplication));
}

}  // namespace
}  // namespace zelk
