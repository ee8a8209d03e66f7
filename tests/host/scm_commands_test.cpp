// Installation, removal, the start/pause/continue/stop requests and the status wait, against the
// fake system on virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "service/host/scm_commands.h"
#include "tests/host/host_fakes.h"

namespace zelk {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::string_literals;
using testing::FakeSystem;

constexpr char kName[] = "LUMARA";
constexpr char kDisplay[] = "Tarsel Front Panel Manager Service";
const std::string kApplication = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

class ScmCommandsTest : public ::testing::Test {
  protected:
    ScmCommandsTest() {
        system.AddKey(kApplication);
        settings.service_name = kName;
        settings.display_name = kDisplay;
        settings.start_type = 2;
        settings.description = "Service controlling front panel display for ZELK";
    }

    // The failure texts as "<id>|<code>" (message) or "<id>|<code>|log" (event text).
    std::function<std::string(std::uint32_t, std::uint32_t, bool)> format =
        [](std::uint32_t id, std::uint32_t error, bool log) {
            return std::to_string(id) + "|" + std::to_string(error) + (log ? "|log" : "");
        };

    bool Install(const std::string& path = "C:\\Lumara\\Lumara.exe") {
        ServiceCommandContext context{system, events, format};
        return InstallService(context, settings, path, message, error);
    }
    bool Uninstall(std::uint32_t timeout = 5000) {
        ServiceCommandContext context{system, events, format};
        return UninstallService(context, settings, message, error, timeout);
    }
    bool Request(int request) {
        ServiceCommandContext context{system, events, format};
        return SetServiceToStatus(context, kName, request);
    }
    testing::FakeService& Installed(std::uint32_t state) {
        EXPECT_TRUE(Install());
        system.events.clear();
        testing::FakeService& service = system.services.at(kName);
        service.state = state;
        return service;
    }

    FakeSystem system;
    EventLogSource events{system, system, "", kDisplay};
    ServiceInstallSettings settings;
    std::string message = "stale";
    std::uint32_t error = 99;
};

TEST_F(ScmCommandsTest, InstallCreatesTheServiceWithItsConfigurationAndEventSource) {
    ASSERT_TRUE(Install());
    EXPECT_EQ(message, "");
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(system.last_manager_access, 0x0Au);
    const testing::FakeService& service = system.services.at(kName);
    EXPECT_EQ(service.display_name, kDisplay);
    EXPECT_EQ(service.request.desired_access, 0x12u);
    EXPECT_EQ(service.request.service_type, 0x10u);
    EXPECT_EQ(service.request.start_type, 2u);
    EXPECT_EQ(service.request.error_control, 0u);
    EXPECT_EQ(service.binary_path, "C:\\Lumara\\Lumara.exe");
    EXPECT_EQ(std::string(service.dependencies.begin(), service.dependencies.end()), "\0\0"s);
    EXPECT_TRUE(service.load_order_group_null);
    EXPECT_TRUE(service.account_null);
    EXPECT_TRUE(service.password_null);
    ASSERT_TRUE(service.failure_actions.has_value());
    EXPECT_EQ(service.failure_actions->reset_period_s, 0xFFFFFFFFu);
    ASSERT_EQ(service.failure_actions->actions.size(), 2u);
    for (const ServiceFailureAction& action : service.failure_actions->actions) {
        EXPECT_EQ(action.type, 1u);
        EXPECT_EQ(action.delay_ms, 1000u);
    }
    EXPECT_EQ(service.description, "Service controlling front panel display for ZELK");
    const FakeSystem::Value* file =
        system.FindValue(kApplication + "\\" + kDisplay, "EventMessageFile");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::string(file->data.begin(), file->data.end()), "C:\\Lumara\\Lumara.DLL\0"s);
    EXPECT_EQ(settings.event_message_file, "C:\\Lumara\\Lumara.DLL");
    ASSERT_EQ(system.events.size(), 1u);
    EXPECT_EQ(system.events[0].id, 0x40000002u);
    EXPECT_THAT(system.events[0].strings, ElementsAre(kDisplay));
    EXPECT_EQ(system.open_handles, 0);
    EXPECT_EQ(system.held_locks, 0);
}

TEST_F(ScmCommandsTest, PathsWithASpaceAreQuoted) {
    ASSERT_TRUE(Install("C:\\Program Files\\Lumara\\Lumara.exe"));
    EXPECT_EQ(system.services.at(kName).binary_path, "\"C:\\Program Files\\Lumara\\Lumara.exe\"");
    // The message file is a plain path either way; a dot in a folder name is no extension.
    EXPECT_EQ(settings.event_message_file, "C:\\Program Files\\Lumara\\Lumara.DLL");
    EXPECT_EQ(MessageFileFor("C:\\a.b\\Lumara"), "C:\\a.b\\Lumara.DLL");
}

TEST_F(ScmCommandsTest, InstallFailuresGiveTheirMessageAndReleaseEverything) {
    const struct {
        std::uint32_t FakeSystem::*failure;
        std::uint32_t code;
        const char* text;
    } cases[] = {
        {&FakeSystem::fail_open_manager, 5, "1|5"},
        {&FakeSystem::fail_lock, 1055, "2|1055"},
        {&FakeSystem::fail_create, 1073, "3|1073"},
    };
    for (const auto& c : cases) {
        FakeSystem fresh;
        fresh.AddKey(kApplication);
        fresh.*c.failure = c.code;
        EventLogSource source(fresh, fresh, "", kDisplay);
        ServiceCommandContext context{fresh, source, format};
        EXPECT_FALSE(InstallService(context, settings, "C:\\L.exe", message, error));
        EXPECT_EQ(message, c.text);
        EXPECT_EQ(error, c.code);
        EXPECT_TRUE(fresh.services.empty());
        EXPECT_TRUE(fresh.events.empty());
        EXPECT_EQ(fresh.open_handles, 0);
        EXPECT_EQ(fresh.held_locks, 0);
    }
}

TEST_F(ScmCommandsTest, EventSourceFailureLeavesTheServiceInstalled) {
    system.fail_set_value.insert("EventMessageFile");
    EXPECT_FALSE(Install());
    EXPECT_EQ(message, "4|5");
    EXPECT_EQ(error, 5u);
    EXPECT_EQ(system.services.count(kName), 1u);
    EXPECT_TRUE(system.events.empty());
    EXPECT_EQ(system.open_handles, 0);
}

TEST_F(ScmCommandsTest, FailureActionsThatCannotBeSetAreReportedOnStandardOutputOnly) {
    system.fail_failure_actions = 120;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(Install());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error = 120");
}

TEST_F(ScmCommandsTest, UninstallOfAStoppedServiceDeletesWithoutAStopRequest) {
    Installed(1);
    ASSERT_TRUE(Uninstall());
    EXPECT_TRUE(system.controls_sent.empty());
    EXPECT_TRUE(system.services.at(kName).deleted);
    EXPECT_EQ(system.last_manager_access, 9u);
    EXPECT_EQ(system.last_service_access, 0x10024u);
    ASSERT_EQ(system.events.size(), 1u);
    EXPECT_EQ(system.events[0].id, 0x40000003u);
    EXPECT_FALSE(system.HasKey(kApplication + "\\" + kDisplay));
    EXPECT_EQ(system.open_handles, 0);
}

TEST_F(ScmCommandsTest, UninstallStopsARunningServiceWithinTheTimeout) {
    Installed(4).transition_ms = 1500;
    ASSERT_TRUE(Uninstall(10000));
    EXPECT_THAT(system.controls_sent, ElementsAre(1u));
    EXPECT_THAT(system.sleeps, Each(250u));
    EXPECT_EQ(system.sleeps.size(), 6u);
    EXPECT_EQ(error, 0u);
}

TEST_F(ScmCommandsTest, FailedStopRequestThatTheWaitMakesGoodStillSucceeds) {
    Installed(4).transition_ms = 500;
    system.fail_control = 1061;
    EXPECT_TRUE(Uninstall());
    EXPECT_EQ(error, 1061u);
    EXPECT_EQ(message, "16|1061");
    EXPECT_TRUE(system.services.at(kName).deleted);
}

TEST_F(ScmCommandsTest, UninstallGivesUpWhenTheServiceDoesNotStopInTime) {
    Installed(4).transition_ms = 60000;
    EXPECT_FALSE(Uninstall(1000));
    EXPECT_EQ(message, "7|1460");
    EXPECT_EQ(error, 1460u);
    EXPECT_TRUE(system.events.empty());  // no event for the wait
    EXPECT_FALSE(system.services.at(kName).deleted);
}

TEST_F(ScmCommandsTest, UninstallWhenTheStatusCannotBeReadDeletesAtOnce) {
    Installed(4);
    system.fail_query = 6;
    EXPECT_TRUE(Uninstall());
    EXPECT_TRUE(system.controls_sent.empty());
}

TEST_F(ScmCommandsTest, UninstallFailuresLogTheirEvents) {
    Installed(1);
    system.fail_delete = 1072;
    EXPECT_FALSE(Uninstall());
    EXPECT_EQ(message, "8|1072");
    ASSERT_EQ(system.events.size(), 1u);
    EXPECT_EQ(system.events[0].id, 0xC0000009u);
    EXPECT_THAT(system.events[0].strings, ElementsAre("8|1072|log"));
    EXPECT_EQ(system.LastError(), 1072u);  // kept across the event write

    system.fail_delete = 0;
    system.events.clear();
    system.fail_open_service = 1060;
    EXPECT_FALSE(Uninstall());
    EXPECT_EQ(message, "6|1060");
    EXPECT_EQ(system.events.at(0).id, 0xC0000008u);

    system.events.clear();
    system.fail_open_manager = 5;
    EXPECT_FALSE(Uninstall());
    EXPECT_EQ(message, "5|5");
    EXPECT_EQ(system.events.at(0).id, 0xC0000007u);
    EXPECT_THAT(system.events[0].strings, ElementsAre("5|5|log"));
}

TEST_F(ScmCommandsTest, UninstallReportsALostEventSourceAfterDeleting) {
    Installed(1);
    system.fail_delete_key = 5;
    EXPECT_FALSE(Uninstall());
    EXPECT_EQ(message, "9|5");
    EXPECT_EQ(error, 5u);
    EXPECT_TRUE(system.services.at(kName).deleted);
    ASSERT_EQ(system.events.size(), 1u);
    EXPECT_EQ(system.events[0].id, 0x40000003u);  // written before the source goes
}

TEST_F(ScmCommandsTest, StartingARunningServiceSucceedsWithoutAStartCall) {
    Installed(4);
    EXPECT_TRUE(Request(0));
    EXPECT_EQ(system.start_calls, 0);
    EXPECT_TRUE(system.sleeps.empty());
}

TEST_F(ScmCommandsTest, RefusedRequestsLogTheirEventAndKeepTheError) {
    const struct {
        int request;
        std::uint32_t state;
        std::uint32_t event;
        const char* text;
        std::uint32_t access;
    } cases[] = {
        {0, 1, 0xC000000Bu, "19|1052|log", 0xF0014u},
        {1, 4, 0xC000000Eu, "21|1052|log", 0xF0044u},
        {2, 7, 0xC000000Du, "20|1052|log", 0xF0044u},
        {3, 4, 0xC000000Cu, "1052", 0xF0024u},  // the stop failure carries the bare code
    };
    for (const auto& c : cases) {
        system.services.clear();
        system.events.clear();
        Installed(c.state);
        system.fail_start = system.fail_control = 1052;
        EXPECT_FALSE(Request(c.request));
        EXPECT_EQ(system.last_service_access, c.access);
        ASSERT_EQ(system.events.size(), 1u);
        EXPECT_EQ(system.events[0].id, c.event);
        EXPECT_THAT(system.events[0].strings, ElementsAre(c.text));
        EXPECT_EQ(system.LastError(), 1052u);
        system.fail_start = system.fail_control = 0;
    }
}

TEST_F(ScmCommandsTest, RequestThatNeverArrivesLogsTheWaitWithTheTargetState) {
    Installed(1).transition_ms = 60000;
    EXPECT_FALSE(Request(0));
    ASSERT_EQ(system.events.size(), 1u);
    EXPECT_EQ(system.events[0].id, 0xC000000Fu);
    EXPECT_THAT(system.events[0].strings, ElementsAre("23|1460|log", "4"));
    EXPECT_EQ(system.LastError(), 1460u);
    // The wait is 5 s at most, whatever the uninstall timeout is.
    EXPECT_GE(system.now, 5000u);
    EXPECT_LE(system.now, 5250u);
}

TEST_F(ScmCommandsTest, RequestsThatCannotReachTheServiceLogWhy) {
    system.fail_open_manager = 5;
    EXPECT_FALSE(Request(3));
    EXPECT_EQ(system.events.at(0).id, 0xC0000007u);
    EXPECT_THAT(system.events[0].strings, ElementsAre("17|5|log"));
    system.fail_open_manager = 0;
    system.events.clear();
    EXPECT_FALSE(Request(3));  // not installed
    EXPECT_EQ(system.events.at(0).id, 0xC0000008u);
    EXPECT_THAT(system.events[0].strings, ElementsAre("18|1060|log"));
    EXPECT_EQ(system.LastError(), 1060u);
    Installed(4);
    system.fail_query = 6;
    EXPECT_FALSE(Request(3));
    EXPECT_EQ(system.events.at(0).id, 0xC0000010u);
    EXPECT_FALSE(Request(9));  // no such request
}

class StatusWaitTest : public ScmCommandsTest {
  protected:
    bool Wait(std::uint32_t timeout, std::uint32_t state) {
        ServiceHandle handle(system);
        handle.Reset(system.OpenServiceByName(nullptr, kName, 0));
        return handle.WaitForServiceStatus(timeout, state, 250);
    }
};

TEST_F(StatusWaitTest, FirstCheckComesBeforeAnySleepAndZeroTimeoutSleepsOnce) {
    Installed(4);
    EXPECT_TRUE(Wait(0, 4));
    EXPECT_TRUE(system.sleeps.empty());
    EXPECT_FALSE(Wait(0, 1));
    EXPECT_THAT(system.sleeps, ElementsAre(250u));
    EXPECT_EQ(system.LastError(), 1460u);
}

TEST_F(StatusWaitTest, ATickCountWrapDoesNotEndTheWait) {
    testing::FakeService& service = Installed(2);
    system.now = 0xFFFFFF00u;
    service.pending_state = 4;
    service.pending_at = system.now;
    service.transition_ms = 1000;
    EXPECT_TRUE(Wait(2000, 4));
    EXPECT_EQ(system.sleeps.size(), 4u);
}

TEST_F(StatusWaitTest, WaitForeverHasNoLimitAndQueryFailuresEndIt) {
    testing::FakeService& service = Installed(3);
    service.pending_state = 1;
    service.pending_at = 0;
    service.transition_ms = 3600000;
    EXPECT_TRUE(Wait(kWaitForever, 1));
    EXPECT_EQ(system.sleeps.size(), 3600000u / 250u);

    system.fail_query = 6;
    EXPECT_FALSE(Wait(kWaitForever, 4));
    EXPECT_EQ(system.LastError(), 6u);
}

}  // namespace
}  // namespace zelk
