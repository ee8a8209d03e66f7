// The status report rules, the control dispatch, the command dispatch and the debug arguments.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/host/service_dispatch.h"
#include "service/host/service_status.h"

namespace zelk {
namespace {

using ::testing::ElementsAre;

TEST(StatusReport, RunningAndPausedSendAndStoreZeroCheckPointAndWaitHint) {
    for (std::uint32_t state : {kServiceRunning, kServicePaused}) {
        ServiceStatusRecord record{0x45, 3, 1100, kServiceStartPending};
        const ServiceStatusReport report =
            ApplyStatusReport(record, state, 9, 9, kKeepStatusValue, 5, 6);
        EXPECT_EQ(report.check_point, 0u);
        EXPECT_EQ(report.wait_hint, 0u);
        EXPECT_EQ(record.check_point, 0u);
        EXPECT_EQ(record.wait_hint, 0u);
        EXPECT_EQ(report.controls_accepted, 0x45u);
        EXPECT_EQ(report.win32_exit_code, 0u);  // exit codes go only with STOPPED
        EXPECT_EQ(report.service_specific_exit_code, 0u);
        EXPECT_EQ(report.service_type, 0x10u);
        EXPECT_EQ(record.current_state, state);
    }
}

TEST(StatusReport, PendingStatesKeepStoredValuesForMinusOneAndAcceptNoControls) {
    ServiceStatusRecord record{0x45, 0, 0, kServiceRunning};
    ServiceStatusReport report = ApplyStatusReport(record, kServiceStopPending, 1, 1100, 0x7, 0, 0);
    EXPECT_EQ(report.check_point, 1u);
    EXPECT_EQ(report.wait_hint, 1100u);
    EXPECT_EQ(report.controls_accepted, 0u);
    EXPECT_EQ(record.controls_accepted, 0x7u);  // stored all the same

    report = ApplyStatusReport(record, kServiceStopPending, kKeepStatusValue, kKeepStatusValue,
                               kKeepStatusValue, 0, 0);
    EXPECT_EQ(report.check_point, 1u);
    EXPECT_EQ(report.wait_hint, 1100u);
    for (std::uint32_t state : {kServiceStartPending, kServiceStopPending, kServiceContinuePending,
                                kServicePausePending}) {
        EXPECT_EQ(ApplyStatusReport(record, state, 2, 3, 0x45, 0, 0).controls_accepted, 0u);
    }
    EXPECT_EQ(
        ApplyStatusReport(record, kServiceRunning, 0, 0, kKeepStatusValue, 0, 0).controls_accepted,
        0x45u);
}

TEST(StatusReport, StoppedCarriesTheExitCodesAndClearsProgress) {
    ServiceStatusRecord record{0x45, 4, 1100, kServiceStopPending};
    const ServiceStatusReport report =
        ApplyStatusReport(record, kServiceStopped, 7, 7, 0, 1066, 42);
    EXPECT_EQ(report.current_state, kServiceStopped);
    EXPECT_EQ(report.win32_exit_code, 1066u);
    EXPECT_EQ(report.service_specific_exit_code, 42u);
    EXPECT_EQ(report.check_point, 0u);
    EXPECT_EQ(report.wait_hint, 0u);
    EXPECT_EQ(report.controls_accepted, 0u);
}

// Records which handler ran, in order, with what arguments.
class RecordingService {
  public:
    std::vector<std::string> calls;
    std::uint32_t handler_result = 77;

    void OnStop() { calls.push_back("stop"); }
    void OnPause() { calls.push_back("pause"); }
    void OnContinue() { calls.push_back("continue"); }
    void OnInterrogate() { calls.push_back("interrogate"); }
    void OnShutdown() { calls.push_back("shutdown"); }
    void OnParamChange() { calls.push_back("paramchange"); }
    void OnNetBindAdd() { calls.push_back("bindadd"); }
    void OnNetBindRemove() { calls.push_back("bindremove"); }
    void OnNetBindEnable() { calls.push_back("bindenable"); }
    void OnNetBindDisable() { calls.push_back("binddisable"); }
    std::uint32_t OnDeviceEvent(std::uint32_t t, void*) { return Record("device", t); }
    std::uint32_t OnHardwareProfileChange(std::uint32_t t, void*) { return Record("hwprofile", t); }
    std::uint32_t OnPowerEvent(std::uint32_t t, void*) { return Record("power", t); }
    std::uint32_t OnSessionChange(std::uint32_t t, void*) { return Record("session", t); }
    void OnUserDefinedRequest(std::uint32_t code) {
        calls.push_back("user " + std::to_string(code));
    }
    bool ReportCurrentStatus() {
        calls.push_back("report");
        return true;
    }

  private:
    std::uint32_t Record(const char* name, std::uint32_t type) {
        calls.push_back(std::string(name) + " " + std::to_string(type));
        return handler_result;
    }
};

TEST(ControlDispatch, RefusedControlZeroAnswers120AndDoesNothing) {
    RecordingService service;
    EXPECT_EQ(DispatchServiceControl(service, 0, 0, 0, nullptr), 120u);
    EXPECT_TRUE(service.calls.empty());
}

TEST(ControlDispatch, EachCodeReachesItsHandlerThenTheStatusIsReported) {
    const std::vector<std::string> expected = {
        "stop",        "pause",       "continue",   "interrogate", "shutdown",
        "paramchange", "bindadd",     "bindremove", "bindenable",  "binddisable",
        "device 3",    "hwprofile 3", "power 3",    "session 3"};
    for (std::uint32_t code = 1; code <= 14; ++code) {
        RecordingService service;
        const std::uint32_t result = DispatchServiceControl(service, 0, code, 3, nullptr);
        EXPECT_THAT(service.calls, ElementsAre(expected[code - 1], "report")) << code;
        EXPECT_EQ(result, code >= 11 ? 77u : 0u) << code;
    }
}

TEST(ControlDispatch, OtherCodesAreUserRequests) {
    for (std::uint32_t code : {15u, 128u, 201u, 204u, 255u}) {
        RecordingService service;
        EXPECT_EQ(DispatchServiceControl(service, 0, code, 0, nullptr), 0u);
        EXPECT_THAT(service.calls, ElementsAre("user " + std::to_string(code), "report"));
    }
}

// A service whose commands succeed or fail as told, recording what the dispatch did.
class ScriptedService {
  public:
    bool succeed = true;
    std::uint32_t error = 1062;
    std::vector<std::string> calls;
    std::vector<std::string> shown;
    bool uninstall_leaves_stop_error = false;
    bool throw_in_debug = false;

    bool RunAsService() { return Call("run"); }
    bool SetServiceToStatus(int request) { return Call("status " + std::to_string(request)); }
    bool Install(std::string& message, std::uint32_t& result) {
        message.clear();
        result = 0;
        if (Call("install")) return true;
        message = "install failed";
        result = error;
        return false;
    }
    bool Uninstall(std::string& message, std::uint32_t& result, std::uint32_t timeout) {
        Call("uninstall " + std::to_string(timeout));
        message = uninstall_leaves_stop_error || !succeed ? "stop failed" : "";
        result = uninstall_leaves_stop_error || !succeed ? error : 0;
        return succeed;
    }
    void Debug() {
        calls.push_back("debug");
        if (throw_in_debug) throw CNTServiceTerminateException(1066, 9);
    }
    void ShowHelp() { calls.push_back("help"); }
    std::string FormatError(std::uint32_t id, std::uint32_t code, bool for_event_log) {
        return "msg " + std::to_string(id) + " " + std::to_string(code) +
               (for_event_log ? " log" : "");
    }
    std::uint32_t LastError() const { return error; }
    void ShowFailureText(const std::string& text) { shown.push_back(text); }

  private:
    bool Call(const std::string& name) {
        calls.push_back(name);
        return succeed;
    }
};

std::uint32_t Execute(ScriptedService& service, int action, bool silent = false,
                      std::uint32_t timeout = 5000) {
    ServiceCommandLine line;
    line.action = action;
    line.silent = silent;
    line.timeout = timeout;
    return ExecuteServiceCommand(service, line);
}

TEST(CommandDispatch, RequestFailuresShowTheirMessageWithTheLastError) {
    const struct {
        int action;
        const char* call;
        const char* text;
    } cases[] = {
        {kActionStart, "status 0", "msg 10 1062"},
        {kActionPause, "status 1", "msg 13 1062"},
        {kActionContinue, "status 2", "msg 12 1062"},
        {kActionStop, "status 3", "msg 11 1062"},
    };
    for (const auto& c : cases) {
        ScriptedService service;
        service.succeed = false;
        EXPECT_EQ(Execute(service, c.action), 1062u);
        EXPECT_THAT(service.calls, ElementsAre(c.call));
        EXPECT_THAT(service.shown, ElementsAre(c.text));

        ScriptedService quiet;
        quiet.succeed = false;
        EXPECT_EQ(Execute(quiet, c.action, true), 1062u);
        EXPECT_TRUE(quiet.shown.empty());
    }
}

TEST(CommandDispatch, SuccessShowsNothingAndRunAsServiceFailureHasNoText) {
    for (int action : {kActionStart, kActionStop, kActionInstall, kActionUninstall}) {
        ScriptedService service;
        EXPECT_EQ(Execute(service, action), 0u);
        EXPECT_TRUE(service.shown.empty()) << action;
    }
    ScriptedService service;
    service.succeed = false;
    service.error = 1063;
    EXPECT_EQ(Execute(service, kActionRunAsService), 1063u);
    EXPECT_TRUE(service.shown.empty());
}

TEST(CommandDispatch, InstallAndUninstallShowTheirOwnTextOnFailure) {
    ScriptedService install;
    install.succeed = false;
    EXPECT_EQ(Execute(install, kActionInstall), 1062u);
    EXPECT_THAT(install.shown, ElementsAre("install failed"));

    ScriptedService uninstall;
    uninstall.succeed = false;
    EXPECT_EQ(Execute(uninstall, kActionUninstall, false, 10000), 1062u);
    EXPECT_THAT(uninstall.calls, ElementsAre("uninstall 10000"));
    EXPECT_THAT(uninstall.shown, ElementsAre("stop failed"));
}

TEST(CommandDispatch, UninstallThatSucceedsAfterAFailedStopReturnsItsCodeWithoutText) {
    ScriptedService service;
    service.uninstall_leaves_stop_error = true;
    EXPECT_EQ(Execute(service, kActionUninstall), 1062u);
    EXPECT_TRUE(service.shown.empty());
}

TEST(CommandDispatch, HelpIsShownEvenWhenSilent) {
    ScriptedService service;
    EXPECT_EQ(Execute(service, kActionHelp, true), 0u);
    EXPECT_THAT(service.calls, ElementsAre("help"));
}

TEST(CommandDispatch, DebugTurnsTheTerminateExceptionIntoTheResult) {
    ScriptedService service;
    EXPECT_EQ(Execute(service, kActionDebug), 0u);
    service.throw_in_debug = true;
    EXPECT_EQ(Execute(service, kActionDebug), 1066u);
    EXPECT_TRUE(service.shown.empty());
}

TEST(DebugArguments, DashDebugGoesInAnyCaseSlashDebugStays) {
    const char* argv[] = {"Lumara.exe", "-debug", "x", "-DeBuG", "/debug", "-debugger", nullptr};
    EXPECT_THAT(DebugRunArguments(7, argv), ElementsAre("Lumara.exe", "x", "/debug", "-debugger"));
    const char* only[] = {"-DEBUG"};
    EXPECT_TRUE(DebugRunArguments(1, only).empty());
    EXPECT_TRUE(DebugRunArguments(3, nullptr).empty());
}

}  // namespace
}  // namespace zelk
