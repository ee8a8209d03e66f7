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

TEST(StatusReport, ProgressAndControlsFollowTheState) {
    // Running and paused send and store a zero check point and wait hint; exit codes go only
    // with STOPPED.
    for (std::uint32_t state : {kServiceRunning, kServicePaused}) {
        ServiceStatusRecord record{0x45, 3, 1100, kServiceStartPending};
        const ServiceStatusReport report =
            ApplyStatusReport(record, state, 9, 9, kKeepStatusValue, 5, 6);
        EXPECT_THAT((std::vector<std::uint32_t>{
                        report.checkPoint, report.waitHint, record.checkPoint, record.waitHint,
                        report.win32ExitCode, report.serviceSpecificExitCode}),
                    ElementsAre(0u, 0u, 0u, 0u, 0u, 0u));
        EXPECT_EQ(report.controlsAccepted, 0x45u);
        EXPECT_EQ(report.serviceType, 0x10u);
        EXPECT_EQ(record.currentState, state);
    }
    // Pending states accept no controls but store them; the keep value keeps the stored values.
    ServiceStatusRecord record{0x45, 0, 0, kServiceRunning};
    ServiceStatusReport report = ApplyStatusReport(record, kServiceStopPending, 1, 1100, 0x7, 0, 0);
    EXPECT_EQ(report.controlsAccepted, 0u);
    EXPECT_EQ(record.controlsAccepted, 0x7u);
    report = ApplyStatusReport(record, kServiceStopPending, kKeepStatusValue, kKeepStatusValue,
                               kKeepStatusValue, 0, 0);
    EXPECT_EQ(report.checkPoint, 1u);
    EXPECT_EQ(report.waitHint, 1100u);
    for (std::uint32_t state :
         {kServiceStartPending, kServiceContinuePending, kServicePausePending}) {
        EXPECT_EQ(ApplyStatusReport(record, state, 2, 3, 0x45, 0, 0).controlsAccepted, 0u);
    }
    // Stopped carries the exit codes and clears progress.
    report = ApplyStatusReport(record, kServiceStopped, 7, 7, 0, 1066, 42);
    EXPECT_THAT(
        (std::vector<std::uint32_t>{report.win32ExitCode, report.serviceSpecificExitCode,
                                    report.checkPoint, report.waitHint, report.controlsAccepted}),
        ElementsAre(1066u, 42u, 0u, 0u, 0u));
}

// Records which handler ran, in order, with what arguments.
#define ZELK_RECORD(handler, name) \
    void handler() {               \
        calls.push_back(name);     \
    }
#define ZELK_RECORD_EVENT(handler, name)                               \
    std::uint32_t handler(std::uint32_t type, void*) {                 \
        calls.push_back(std::string(name " ") + std::to_string(type)); \
        return 77;                                                     \
    }
struct RecordingService {
    std::vector<std::string> calls;
    ZELK_RECORD(OnStop, "stop")
    ZELK_RECORD(OnPause, "pause")
    ZELK_RECORD(OnContinue, "continue")
    ZELK_RECORD(OnInterrogate, "interrogate")
    ZELK_RECORD(OnShutdown, "shutdown")
    ZELK_RECORD(OnParamChange, "paramchange")
    ZELK_RECORD(OnNetBindAdd, "bindadd")
    ZELK_RECORD(OnNetBindRemove, "bindremove")
    ZELK_RECORD(OnNetBindEnable, "bindenable")
    ZELK_RECORD(OnNetBindDisable, "binddisable")
    ZELK_RECORD_EVENT(OnDeviceEvent, "device")
    ZELK_RECORD_EVENT(OnHardwareProfileChange, "hwprofile")
    ZELK_RECORD_EVENT(OnPowerEvent, "power")
    ZELK_RECORD_EVENT(OnSessionChange, "session")
    void OnUserDefinedRequest(std::uint32_t code) {
        calls.push_back("user " + std::to_string(code));
    }
    bool ReportCurrentStatus() {
        calls.push_back("report");
        return true;
    }
};

TEST(ControlDispatch, EachCodeReachesItsHandlerThenTheStatusIsReported) {
    RecordingService refused;
    EXPECT_EQ(DispatchServiceControl(refused, 0, 0, 0, nullptr), 120u);
    EXPECT_TRUE(refused.calls.empty());

    const std::vector<std::string> expected = {
        "stop",        "pause",       "continue",   "interrogate", "shutdown",
        "paramchange", "bindadd",     "bindremove", "bindenable",  "binddisable",
        "device 3",    "hwprofile 3", "power 3",    "session 3"};
    for (std::uint32_t code :
         {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 128u, 201u, 255u}) {
        SCOPED_TRACE(code);
        RecordingService service;
        const std::uint32_t result = DispatchServiceControl(service, 0, code, 3, nullptr);
        const std::string handler =
            code <= 14 ? expected[code - 1] : "user " + std::to_string(code);
        EXPECT_THAT(service.calls, ElementsAre(handler, "report"));
        EXPECT_EQ(result, code >= 11 && code <= 14 ? 77u : 0u);
    }
}

// A service whose commands succeed or fail as told, recording what the dispatch did.
struct ScriptedService {
    bool succeed = true;
    bool uninstall_leaves_stop_error = false;
    bool throw_in_debug = false;
    std::uint32_t error = 1062;
    std::vector<std::string> calls, shown;

    bool Call(const std::string& name) {
        calls.push_back(name);
        return succeed;
    }
    bool RunAsService() { return Call("run"); }
    bool SetServiceToStatus(int request) { return Call("status " + std::to_string(request)); }
    bool Install(std::string& message, std::uint32_t& result) {
        const bool ok = Call("install");
        message = ok ? "" : "install failed";
        result = ok ? 0 : error;
        return ok;
    }
    bool Uninstall(std::string& message, std::uint32_t& result, std::uint32_t timeout) {
        Call("uninstall " + std::to_string(timeout));
        const bool stop_failed = uninstall_leaves_stop_error || !succeed;
        message = stop_failed ? "stop failed" : "";
        result = stop_failed ? error : 0;
        return succeed;
    }
    void Debug() {
        calls.push_back("debug");
        if (throw_in_debug) throw CNTServiceTerminateException(1066, 9);
    }
    void ShowHelp() { calls.push_back("help"); }
    std::string FormatError(std::uint32_t id, std::uint32_t code, bool log) {
        return "msg " + std::to_string(id) + " " + std::to_string(code) + (log ? " log" : "");
    }
    std::uint32_t LastError() const { return error; }
    void ShowFailureText(const std::string& text) { shown.push_back(text); }
};

std::uint32_t Execute(ScriptedService& service, int action, bool silent = false) {
    ServiceCommandLine line;
    line.action = action;
    line.silent = silent;
    line.timeout = 10000;
    return ExecuteServiceCommand(service, line);
}

TEST(CommandDispatch, FailuresShowTheirTextUnlessSilentWithTheLastErrorAsResult) {
    const struct {
        int action;
        const char* call;
        const char* text;  // null: none shown
    } cases[] = {
        {kActionStart, "status 0", "msg 10 1062"},
        {kActionPause, "status 1", "msg 13 1062"},
        {kActionContinue, "status 2", "msg 12 1062"},
        {kActionStop, "status 3", "msg 11 1062"},
        {kActionInstall, "install", "install failed"},
        {kActionUninstall, "uninstall 10000", "stop failed"},
        {kActionRunAsService, "run", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        for (bool silent : {false, true}) {
            ScriptedService service;
            service.succeed = false;
            EXPECT_EQ(Execute(service, c.action, silent), 1062u);
            EXPECT_THAT(service.calls, ElementsAre(c.call));
            EXPECT_EQ(service.shown, c.text && !silent ? std::vector<std::string>{c.text}
                                                       : std::vector<std::string>{});
        }
        ScriptedService fine;
        EXPECT_EQ(Execute(fine, c.action), 0u);
        EXPECT_TRUE(fine.shown.empty());
    }
}

TEST(CommandDispatch, StopErrorsOfAnUninstallHelpAndDebugResults) {
    ScriptedService service;
    service.uninstall_leaves_stop_error = true;  // removed after a failed stop: code, no text
    EXPECT_EQ(Execute(service, kActionUninstall), 1062u);
    EXPECT_TRUE(service.shown.empty());

    ScriptedService help;
    EXPECT_EQ(Execute(help, kActionHelp, true), 0u);  // shown even when silent
    EXPECT_THAT(help.calls, ElementsAre("help"));

    ScriptedService debug;
    EXPECT_EQ(Execute(debug, kActionDebug), 0u);
    debug.throw_in_debug = true;
    EXPECT_EQ(Execute(debug, kActionDebug), 1066u);
    EXPECT_TRUE(debug.shown.empty());
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
