// How a control code from the service control manager reaches the service's handlers, and how
// the command of the command line is run. Both are templates over the service class so that
// the rules run against a test double as well as against the Windows service object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/win_codes.h"
#include "service/host/command_line.h"
#include "service/host/service_status.h"

namespace zelk {

// Control codes of the service control manager.
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;
inline constexpr std::uint32_t kControlParamChange = 6;
inline constexpr std::uint32_t kControlNetBindAdd = 7;
inline constexpr std::uint32_t kControlNetBindRemove = 8;
inline constexpr std::uint32_t kControlNetBindEnable = 9;
inline constexpr std::uint32_t kControlNetBindDisable = 10;
inline constexpr std::uint32_t kControlDeviceEvent = 11;
inline constexpr std::uint32_t kControlHardwareProfileChange = 12;
inline constexpr std::uint32_t kControlPowerEvent = 13;
inline constexpr std::uint32_t kControlSessionChange = 14;

// Calls the handler of `control` and then reports the current status. A control equal to
// `refusedControl` is answered with 120 (not implemented) and nothing else happens. Returns
// 0, or the handler's own result for the four handlers that have one.
template <class Service>
std::uint32_t DispatchServiceControl(Service& service, std::uint32_t refusedControl,
                                     std::uint32_t control, std::uint32_t eventType,
                                     void* eventData) {
    if (control == refusedControl) return kErrorCallNotImplemented;
    std::uint32_t result = 0;
    switch (control) {
        case kControlStop:
            service.OnStop();
            break;
        case kControlPause:
            service.OnPause();
            break;
        case kControlContinue:
            service.OnContinue();
            break;
        case kControlInterrogate:
            service.OnInterrogate();
            break;
        case kControlShutdown:
            service.OnShutdown();
            break;
        case kControlParamChange:
            service.OnParamChange();
            break;
        case kControlNetBindAdd:
            service.OnNetBindAdd();
            break;
        case kControlNetBindRemove:
            service.OnNetBindRemove();
            break;
        case kControlNetBindEnable:
            service.OnNetBindEnable();
            break;
        case kControlNetBindDisable:
            service.OnNetBindDisable();
            break;
        case kControlDeviceEvent:
            result = service.OnDeviceEvent(eventType, eventData);
            break;
        case kControlHardwareProfileChange:
            result = service.OnHardwareProfileChange(eventType, eventData);
            break;
        case kControlPowerEvent:
            result = service.OnPowerEvent(eventType, eventData);
            break;
        case kControlSessionChange:
            result = service.OnSessionChange(eventType, eventData);
            break;
        default:
            service.OnUserDefinedRequest(control);
            break;
    }
    service.ReportCurrentStatus();
    return result;
}

// The string table ids of the command failures the dispatch shows.
inline constexpr std::uint32_t kMsgStartFailed = 10;
inline constexpr std::uint32_t kMsgStopFailed = 11;
inline constexpr std::uint32_t kMsgContinueFailed = 12;
inline constexpr std::uint32_t kMsgPauseFailed = 13;

// The argument `SetServiceToStatus` takes for each SCM request.
inline constexpr int kRequestStart = 0;
inline constexpr int kRequestPause = 1;
inline constexpr int kRequestContinue = 2;
inline constexpr int kRequestStop = 3;

// Runs the command chosen on `commandLine` and returns the error code of a failed command, 0
// when nothing failed. A failure text is shown (ShowFailureText) unless the line is silent;
// the usage text is shown whatever the silent flag says. `Service` also supplies LastError(),
// the thread's last error.
template <class Service>
std::uint32_t ExecuteServiceCommand(Service& service, const ServiceCommandLine& commandLine) {
    std::uint32_t result = 0;
    std::string text;
    auto request = [&](int requestCode, std::uint32_t messageId) {
        if (!service.SetServiceToStatus(requestCode)) {
            result = service.LastError();
            text = service.FormatError(messageId, result, false);
        }
    };
    switch (commandLine.action) {
        case kActionRunAsService:
            if (!service.RunAsService()) result = service.LastError();
            break;
        case kActionStart:
            request(kRequestStart, kMsgStartFailed);
            break;
        case kActionPause:
            request(kRequestPause, kMsgPauseFailed);
            break;
        case kActionContinue:
            request(kRequestContinue, kMsgContinueFailed);
            break;
        case kActionStop:
            request(kRequestStop, kMsgStopFailed);
            break;
        case kActionInstall:
            if (service.Install(text, result)) text.clear();
            break;
        case kActionUninstall:
            // A stop request that failed before the service stopped anyway leaves its code as
            // the result but no text to show.
            if (service.Uninstall(text, result, commandLine.timeout)) text.clear();
            break;
        case kActionDebug:
            try {
                service.Debug();
            } catch (const CNTServiceTerminateException& e) {
                result = e.Win32ExitCode();
            }
            break;
        case kActionHelp:
            service.ShowHelp();
            break;
        default:
            break;
    }
    if (!text.empty() && !commandLine.silent) service.ShowFailureText(text);
    return result;
}

// The argument vector of a debug run: the process's arguments (program path included) without
// any argument equal to "-debug" in any mix of case. "/debug" stays.
std::vector<std::string> DebugRunArguments(int argc, const char* const* argv);

}  // namespace zelk
