// Installation, removal, the start/pause/continue/stop requests and the status wait, against the
// fake system on virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "common/debug_print.h"
#include "service/host/scm_commands.h"
#include "tests/host/host_fakes.h"

namespace zelk {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;
using namespace std::string_literals;
using test::FakeSystem;

constexpr char kName[] = "LUMARA";
constexpr char kDisplay[] = "Tarsel Front Panel Manager Service";
const std::string kApplication = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

class ScmCommandsTest : public ::testing::Test {
  protected:
    ScmCommandsTest() {
        Reset();
        settings.serviceName = kName;
        settings.displayName = kDisplay;
        settings.startType = 2;
        settings.description = "Service controlling front panel display for ZELK";
    }

    bool Install(const std::string& path = "C:\\Lumara\\Lumara.exe") {
        return InstallService(context, settings, path, message, error);
    }
    bool Uninstall(std::uint32_t timeout = 5000) {
        return UninstallService(context, settings, message, error, timeout);
    }
    void Reset() {
        system = FakeSystem();
        system.AddKey(kApplication);
    }
    bool Request(int request) { return SetServiceToStatus(context, kName, request); }
    test::FakeService& Installed(std::uint32_t state) {
        system.services.clear();
        EXPECT_TRUE(Install());
        system.events.clear();
        test::FakeService& service = system.services.at(kName);
        service.state = state;
        return service;
    }
    // The last event as "<id in hex>: <strings>".
    std::string LastEvent() const {
        if (system.events.empty()) return "<none>";
        char id[16];
        std::snprintf(id, sizeof(id), "%X:", system.events.back().id);
        std::string text = id;
        for (const std::string& s : system.events.back().strings) text += " " + s;
        return text;
    }

    FakeSystem system;
    EventLogSource events{system, system, "", kDisplay};
    // The failure texts as "<id>|<code>" (message) or "<id>|<code>|log" (event text).
    ServiceCommandContext context{
        system, events, [](std::uint32_t id, std::uint32_t code, bool log) {
            return std::to_string(id) + "|" + std::to_string(code) + (log ? "|log" : "");
        }};
    ServiceInstallSettings settings;
    std::string message = "stale";
    std::uint32_t error = 99;
};

// The values the service ends up with in the registry are checked by the Wine test.
TEST_F(ScmCommandsTest, InstallCreatesTheServiceWithFailureActionsAndEventSource) {
    ASSERT_TRUE(Install());
    EXPECT_EQ(message + std::to_string(error), "0");
    EXPECT_EQ(system.last_manager_access, 0x0Au);
    const test::FakeService& service = system.services.at(kName);
    EXPECT_EQ(service.request.desiredAccess, 0x12u);
    EXPECT_EQ(service.binaryPath, "C:\\Lumara\\Lumara.exe");  // no blank, no quotes
    EXPECT_EQ(service.dependencies, "\0\0"s);
    ASSERT_TRUE(service.failure_actions.has_value());
    EXPECT_EQ(service.failure_actions->resetPeriodSeconds, 0xFFFFFFFFu);
    ASSERT_EQ(service.failure_actions->actions.size(), 2u);
    for (const ServiceFailureAction& action : service.failure_actions->actions) {
        EXPECT_EQ(action.type, 1u);
        EXPECT_EQ(action.delayMs, 1000u);
    }
    EXPECT_EQ(LastEvent(), "40000002: "s + kDisplay);
    EXPECT_EQ(system.open_handles, 0);  // the database lock included
    // A dot in a folder name is no extension.
    EXPECT_EQ(MessageFileFor("C:\\a.b\\Lumara"), "C:\\a.b\\Lumara.DLL");
}

TEST_F(ScmCommandsTest, InstallFailuresGiveTheirMessageAndReleaseEverything) {
    const struct {
        std::uint32_t FakeSystem::*failure;
        std::uint32_t code;
        const char* text;
        bool service_stays;
    } cases[] = {
        {&FakeSystem::fail_open_manager, 5, "1|5", false},
        {&FakeSystem::fail_lock, 1055, "2|1055", false},
        {&FakeSystem::fail_create, 1073, "3|1073", false},
        {nullptr, 5, "4|5", true},  // the event source cannot be written
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Reset();
        if (c.failure)
            system.*c.failure = c.code;
        else
            system.fail_set_value.insert("EventMessageFile");
        EXPECT_FALSE(Install());
        EXPECT_EQ(message, c.text);
        EXPECT_EQ(error, c.code);
        EXPECT_EQ(system.services.size(), c.service_stays ? 1u : 0u);
        EXPECT_TRUE(system.events.empty());
        EXPECT_EQ(system.open_handles, 0);
    }
}

TEST_F(ScmCommandsTest, FailureActionsThatCannotBeSetAreReportedOnStandardOutputOnly) {
    system.fail_failure_actions = 120;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(Install());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error = 120");
}

// The start trigger reaches the SCM as Windows reads it: the HID interface class in GUID memory
// order and NUL-terminated UTF-16LE hardware ids, one data item each.
TEST_F(ScmCommandsTest, InstallRegistersTheStartTriggerOrGoesOnWithoutIt) {
    auto utf16 = [](const std::u16string& text) {
        std::vector<std::uint8_t> bytes;
        for (const char16_t c : text)
            bytes.insert(bytes.end(), {std::uint8_t(c), std::uint8_t(c >> 8)});
        bytes.insert(bytes.end(), {0, 0});
        return bytes;
    };
    ScopedDebugCapture traces;
    ASSERT_TRUE(Install());
    const test::FakeService& service = system.services.at(kName);
    EXPECT_EQ(service.request.startType, 2u);  // the start rule stays automatic
    ASSERT_TRUE(service.triggers.has_value());
    ASSERT_EQ(service.triggers->size(), 1u);
    const ServiceTrigger& trigger = service.triggers->front();
    EXPECT_EQ(trigger.type, 1u);    // device interface arrival
    EXPECT_EQ(trigger.action, 1u);  // start the service
    EXPECT_THAT(trigger.subtype, ElementsAre(0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11, 0x88,
                                             0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30));
    std::vector<std::vector<std::uint8_t>> data;
    for (const ServiceTriggerData& item : trigger.data) {
        EXPECT_EQ(item.type, 2u);  // string
        EXPECT_LE(item.bytes.size(), 1024u);
        data.push_back(item.bytes);
    }
    EXPECT_THAT(
        data,
        ElementsAre(utf16(u"HID\\VID_1F3C&PID_5A41"), utf16(u"HID\\VID_1F3C&PID_5A41&COL01"),
                    utf16(u"HID\\VID_1F3C&PID_5A41&COL02"), utf16(u"HID\\VID_1F3C&PID_5A41&COL03"),
                    utf16(u"HID\\VID_1F3C&PID_5A41&COL04")));
    EXPECT_TRUE(traces.Contains("Installed with a start trigger on the panel's arrival\n"));

    // A system without triggers: the installation is whole otherwise and its trace says why.
    for (const std::uint32_t refusal : {124u, 120u}) {
        Reset();
        traces.Clear();
        system.fail_triggers = refusal;
        EXPECT_TRUE(Install());
        EXPECT_EQ(message + std::to_string(error), "0");
        EXPECT_FALSE(system.services.at(kName).triggers.has_value());
        EXPECT_EQ(LastEvent(), "40000002: "s + kDisplay);
        EXPECT_THAT(traces.Lines(),
                    ElementsAre("Installed without a start trigger (error " +
                                std::to_string(refusal) + "): the service starts at boot only\n"));
        EXPECT_EQ(system.open_handles, 0);
    }
}

TEST_F(ScmCommandsTest, UninstallStopsARunningServiceWithinTheTimeoutThenDeletes) {
    const struct {
        std::uint32_t state, transition_ms, fail_control, fail_query, timeout;
        bool ok;
        const char* text;
        std::uint32_t error, stops, sleeps;
    } cases[] = {
        {1, 0, 0, 0, 5000, true, "", 0, 0, 0},                 // stopped: no stop request
        {4, 1500, 0, 0, 10000, true, "", 0, 1, 6},             // stops within the timeout
        {4, 500, 1061, 0, 5000, true, "16|1061", 1061, 1, 2},  // failed request, stops anyway
        {4, 0, 0, 6, 5000, true, "", 0, 0, 0},                 // unreadable status: deleted at once
        {4, 60000, 0, 0, 1000, false, "7|1460", 1460, 1, 5},   // gives up, no event for it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.transition_ms);
        Reset();
        Installed(c.state).transition_ms = c.transition_ms;
        system.fail_control = c.fail_control;
        system.fail_query = c.fail_query;
        EXPECT_EQ(Uninstall(c.timeout), c.ok);
        EXPECT_EQ(message, c.text);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(system.controls_sent.size(), c.stops);
        EXPECT_EQ(system.sleeps, std::vector<std::uint32_t>(c.sleeps, 250u));
        EXPECT_EQ(system.services.at(kName).deleted, c.ok);
        EXPECT_EQ(LastEvent(), c.ok ? "40000003: "s + kDisplay : "<none>");
        EXPECT_EQ(system.HasKey(kApplication + "\\" + kDisplay), !c.ok);
        EXPECT_EQ(system.last_manager_access, 9u);
        EXPECT_EQ(system.last_service_access, 0x10024u);
        EXPECT_EQ(system.open_handles, 0);
    }
}

TEST_F(ScmCommandsTest, UninstallFailuresLogTheirEventsAndKeepTheError) {
    const struct {
        std::uint32_t FakeSystem::*failure;
        std::uint32_t code;
        const char* text;
        std::string event;
    } cases[] = {
        {&FakeSystem::fail_delete, 1072, "8|1072", "C0000009: 8|1072|log"},
        {&FakeSystem::fail_open_service, 1060, "6|1060", "C0000008: 6|1060|log"},
        {&FakeSystem::fail_open_manager, 5, "5|5", "C0000007: 5|5|log"},
        // The service is gone; its event was written before the source went.
        {&FakeSystem::fail_delete_key, 5, "9|5", "40000003: "s + kDisplay},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Installed(1);
        system.*c.failure = c.code;
        EXPECT_FALSE(Uninstall());
        system.*c.failure = 0;
        EXPECT_EQ(message, c.text);
        EXPECT_EQ(error, c.code);
        EXPECT_EQ(system.events.size(), 1u);
        EXPECT_EQ(LastEvent(), c.event);
        EXPECT_EQ(system.LastError(), c.code);
    }
    EXPECT_TRUE(system.services.at(kName).deleted);
}

TEST_F(ScmCommandsTest, StartingARunningServiceSucceedsWithoutAStartCall) {
    Installed(4);
    system.fail_start = 1056;
    EXPECT_TRUE(Request(0));
    EXPECT_TRUE(system.sleeps.empty());
}

TEST_F(ScmCommandsTest, FailedRequestsLogWhyAndKeepTheError) {
    const struct {
        std::uint32_t state;  // 0: not installed
        std::uint32_t FakeSystem::*failure;
        std::uint32_t code;
        int request;
        const char* event;
        std::uint32_t error, access;  // access 0: the service is never opened
    } cases[] = {
        {0, &FakeSystem::fail_open_manager, 5, 3, "C0000007: 17|5|log", 5, 0},
        {0, nullptr, 0, 3, "C0000008: 18|1060|log", 1060, 0xF0024u},
        {4, &FakeSystem::fail_query, 6, 3, "C0000010: ", 6, 0xF0024u},
        {1, &FakeSystem::fail_start, 1052, 0, "C000000B: 19|1052|log", 1052, 0xF0014u},
        {4, &FakeSystem::fail_control, 1052, 1, "C000000E: 21|1052|log", 1052, 0xF0044u},
        {7, &FakeSystem::fail_control, 1052, 2, "C000000D: 20|1052|log", 1052, 0xF0044u},
        {4, &FakeSystem::fail_control, 1052, 3, "C000000C: 1052", 1052, 0xF0024u},  // bare code
        // A state that never arrives: the wait with its target state, 5 s at most.
        {1, nullptr, 0, 0, "C000000F: 23|1460|log 4", 1460, 0xF0014u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        Reset();
        if (c.state != 0) Installed(c.state).transition_ms = 60000;
        if (c.failure) system.*c.failure = c.code;
        EXPECT_FALSE(Request(c.request));
        EXPECT_EQ(system.last_service_access, c.access);
        EXPECT_EQ(system.events.size(), 1u);
        EXPECT_THAT(LastEvent(), StartsWith(c.event));
        EXPECT_EQ(system.LastError(), c.error);
    }
    EXPECT_GE(system.now, 5000u);
    EXPECT_LE(system.now, 5250u);
    EXPECT_FALSE(Request(9));  // no such request
}

class StatusWaitTest : public ScmCommandsTest {
  protected:
    bool Wait(std::uint32_t timeout, std::uint32_t state) {
        ServiceHandle handle(system);
        handle.Reset(system.OpenServiceByName(nullptr, kName, 0));
        return handle.WaitForServiceStatus(timeout, state, 250);
    }
    void Pending(std::uint32_t from, std::uint32_t to, std::uint32_t at, std::uint32_t ms) {
        test::FakeService& service = Installed(from);
        system.now = service.pending_at = at;
        service.pending_state = to;
        service.transition_ms = ms;
    }
};

TEST_F(StatusWaitTest, ChecksFirstSurvivesATickWrapAndWaitsForeverUntilAQueryFails) {
    Installed(4);
    EXPECT_TRUE(Wait(0, 4));
    EXPECT_TRUE(system.sleeps.empty());
    EXPECT_FALSE(Wait(0, 1));  // a zero timeout sleeps once
    EXPECT_THAT(system.sleeps, ElementsAre(250u));
    EXPECT_EQ(system.LastError(), 1460u);

    system.sleeps.clear();
    Pending(2, 4, 0xFFFFFF00u, 1000);
    EXPECT_TRUE(Wait(2000, 4));
    EXPECT_EQ(system.sleeps.size(), 4u);

    system.sleeps.clear();
    Pending(3, 1, 0, 3600000);
    EXPECT_TRUE(Wait(kWaitForever, 1));
    EXPECT_EQ(system.sleeps.size(), 3600000u / 250u);
    system.fail_query = 6;
    EXPECT_FALSE(Wait(kWaitForever, 4));
    EXPECT_EQ(system.LastError(), 6u);
}

}  // namespace
}  // namespace zelk
