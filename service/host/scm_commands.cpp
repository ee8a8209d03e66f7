#include "service/host/scm_commands.h"

#include <cstdio>

#include "common/debug_print.h"

#include "service/host/multi_sz.h"
#include "service/host/service_dispatch.h"
#include "service/host/service_status.h"

namespace zelk {

namespace {

// Access rights asked for.
constexpr std::uint32_t kScmCreateAndLock = 0x0A;            // SC_MANAGER_CREATE_SERVICE | LOCK
constexpr std::uint32_t kScmConnectAndLock = 0x09;           // SC_MANAGER_CONNECT | LOCK
constexpr std::uint32_t kServiceConfigAndStart = 0x12;       // SERVICE_CHANGE_CONFIG | START
constexpr std::uint32_t kServiceDeleteStopQuery = 0x10024;   // DELETE | STOP | QUERY_STATUS
constexpr std::uint32_t kServiceRequiredAndQuery = 0xF0004;  // STANDARD_RIGHTS_REQUIRED | QUERY

constexpr std::uint32_t kServiceStart = 0x10;
constexpr std::uint32_t kServiceStop = 0x20;
constexpr std::uint32_t kServicePauseContinue = 0x40;

constexpr std::uint32_t kActionRestart = 1;
constexpr std::uint32_t kTriggerDeviceInterfaceArrival = 1;
constexpr std::uint32_t kTriggerActionStart = 1;
constexpr std::uint32_t kTriggerDataString = 2;
// The HID device interface class {4D1E55B2-F16F-11CF-88CB-001111000030} as a GUID lies in memory.
constexpr std::array<std::uint8_t, 16> kHidInterfaceClass = {
    0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11, 0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
constexpr char kPanelHardwareId[] = "HID\\VID_1F3C&PID_5A41";
constexpr int kPanelCollections = 4;
constexpr std::uint32_t kTypesSupportedAll = 7;

// String table ids of the installation and removal failures.
constexpr std::uint32_t kMsgInstallOpenScm = 1;
constexpr std::uint32_t kMsgInstallLockScm = 2;
constexpr std::uint32_t kMsgInstallCreate = 3;
constexpr std::uint32_t kMsgInstallEventSource = 4;
constexpr std::uint32_t kMsgUninstallOpenScm = 5;
constexpr std::uint32_t kMsgUninstallOpenService = 6;
constexpr std::uint32_t kMsgUninstallWait = 7;
constexpr std::uint32_t kMsgUninstallDelete = 8;
constexpr std::uint32_t kMsgUninstallEventSource = 9;
constexpr std::uint32_t kMsgUninstallStop = 16;
constexpr std::uint32_t kMsgStatusOpenScm = 17;
constexpr std::uint32_t kMsgStatusOpenService = 18;
constexpr std::uint32_t kMsgStatusStart = 19;
constexpr std::uint32_t kMsgStatusContinue = 20;
constexpr std::uint32_t kMsgStatusPause = 21;
constexpr std::uint32_t kMsgStatusWait = 23;
constexpr std::uint32_t kMsgStatusQuery = 24;

// An ASCII text as a NUL-terminated UTF-16LE string, the only string form triggers take.
ServiceTriggerData TriggerString(const std::string& text) {
    ServiceTriggerData item;
    item.type = kTriggerDataString;
    for (const char c : text) item.bytes.insert(item.bytes.end(), {std::uint8_t(c), 0});
    item.bytes.insert(item.bytes.end(), {0, 0});
    return item;
}

const char* OrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

struct StatusRequest {
    std::uint32_t targetState;
    std::uint32_t access;
    std::uint32_t control;  // 0: StartService
    std::uint32_t failureEvent;
    std::uint32_t failureMessage;  // 0: the stop failure, logged as a bare number
};

constexpr StatusRequest kStatusRequests[] = {
    {kServiceRunning, kServiceStart, 0, kEventIdStartFailed, kMsgStatusStart},
    {kServicePaused, kServicePauseContinue, kControlPause, kEventIdPauseFailed, kMsgStatusPause},
    {kServiceRunning, kServicePauseContinue, kControlContinue, kEventIdContinueFailed,
     kMsgStatusContinue},
    {kServiceStopped, kServiceStop, kControlStop, kEventIdStopFailed, 0},
};

}  // namespace

bool ScmHandle::Open(std::uint32_t access) {
    Close();
    handle_ = api_.OpenManager(access);
    return handle_ != nullptr;
}

bool ScmHandle::Lock() {
    if (handle_ == nullptr) return false;
    if (lock_ != nullptr) return true;
    lock_ = api_.LockDatabase(handle_);
    return lock_ != nullptr;
}

void ScmHandle::Close() {
    if (lock_ != nullptr) {
        api_.UnlockDatabase(lock_);
        lock_ = nullptr;
    }
    if (handle_ != nullptr) {
        api_.CloseServiceHandle(handle_);
        handle_ = nullptr;
    }
}

void ServiceHandle::Reset(SystemHandle handle) {
    if (handle_ != nullptr && handle_ != handle) api_.CloseServiceHandle(handle_);
    handle_ = handle;
}

bool ServiceHandle::WaitForServiceStatus(std::uint32_t timeout, std::uint32_t state,
                                         std::uint32_t pollInterval) {
    const std::uint32_t start = api_.TickCount();
    std::uint32_t current = 0;
    if (!api_.QueryState(handle_, current)) return false;
    while (current != state) {
        api_.Sleep(pollInterval);
        // Unsigned difference: a wrap of the tick count between the two readings is harmless.
        if (timeout != kWaitForever && api_.TickCount() - start > timeout) {
            api_.SetLastError(kErrorTimeout);
            return false;
        }
        if (!api_.QueryState(handle_, current)) return false;
    }
    return true;
}

bool ServiceHandle::WaitForStop(std::uint32_t timeout) {
    return WaitForServiceStatus(timeout, kServiceStopped, kStatusPollMs);
}

std::string ServiceBinaryPath(const std::string& modulePath) {
    if (modulePath.find(' ') == std::string::npos) return modulePath;
    return "\"" + modulePath + "\"";
}

std::string MessageFileFor(const std::string& modulePath) {
    const std::size_t nameStart = modulePath.find_last_of("\\/:");
    const std::size_t dot = modulePath.rfind('.');
    std::string base = modulePath;
    if (dot != std::string::npos && (nameStart == std::string::npos || dot > nameStart)) {
        base.erase(dot);
    }
    return base + ".DLL";
}

ServiceFailureActions InstallFailureActions() {
    ServiceFailureActions actions;
    actions.resetPeriodSeconds = 0xFFFFFFFFu;
    actions.actions = {{kActionRestart, 1000}, {kActionRestart, 1000}};
    return actions;
}

std::vector<ServiceTrigger> InstallTriggers() {
    ServiceTrigger arrival;
    arrival.type = kTriggerDeviceInterfaceArrival;
    arrival.action = kTriggerActionStart;
    arrival.subtype = kHidInterfaceClass;
    // A panel with one collection shows the device's id; one with several, the collection's.
    arrival.data.push_back(TriggerString(kPanelHardwareId));
    for (int collection = 1; collection <= kPanelCollections; ++collection) {
        arrival.data.push_back(
            TriggerString(std::string(kPanelHardwareId) + "&COL0" + std::to_string(collection)));
    }
    return {arrival};
}

bool InstallService(ServiceCommandContext& context, ServiceInstallSettings& settings,
                    const std::string& modulePath, std::string& message, std::uint32_t& error) {
    message.clear();
    error = 0;
    ScmApi& scm = context.scm;
    auto fail = [&](std::uint32_t messageId) {
        error = scm.LastError();
        message = context.formatError(messageId, error, false);
        return false;
    };

    ScmHandle manager(scm);
    if (!manager.Open(kScmCreateAndLock)) return fail(kMsgInstallOpenScm);
    if (!manager.Lock()) return fail(kMsgInstallLockScm);

    const std::vector<char> dependencies = BuildDependencies(settings.dependencies);
    const std::string binaryPath = ServiceBinaryPath(modulePath);
    ServiceCreateRequest request;
    request.serviceName = settings.serviceName.c_str();
    request.displayName = settings.displayName.c_str();
    request.desiredAccess = kServiceConfigAndStart;
    request.serviceType = settings.serviceType;
    request.startType = settings.startType;
    request.errorControl = settings.errorControl;
    request.binaryPath = binaryPath.c_str();
    request.loadOrderGroup = OrNull(settings.loadOrderGroup);
    request.dependencies = dependencies.data();
    request.accountName = OrNull(settings.accountName);
    request.password = OrNull(settings.password);
    ServiceHandle service(scm);
    service.Reset(scm.CreateNewService(manager.Get(), request));
    if (service.Get() == nullptr) return fail(kMsgInstallCreate);

    if (!scm.SetFailureActions(service.Get(), InstallFailureActions())) {
        std::printf("Error = %d", static_cast<int>(scm.LastError()));
        std::fflush(stdout);
    }

    if (settings.eventMessageFile.empty()) {
        settings.eventMessageFile = MessageFileFor(modulePath);
    }
    if (!context.events.InstallEventSource(settings.displayName.c_str(),
                                           settings.eventMessageFile.c_str(), kTypesSupportedAll)) {
        return fail(kMsgInstallEventSource);
    }

    if (!settings.description.empty()) {
        scm.SetDescription(service.Get(), settings.description.c_str());
    }
    if (scm.SetTriggers(service.Get(), InstallTriggers())) {
        DebugPrint("Installed with a start trigger on the panel's arrival\n");
    } else {
        DebugPrint(
            "Installed without a start trigger (error %u): the service starts at boot only\n",
            static_cast<unsigned>(scm.LastError()));
    }
    context.events.LogEvent(kEventTypeInformation, kEventIdInstalled, settings.displayName.c_str());
    return true;
}

bool UninstallService(ServiceCommandContext& context, const ServiceInstallSettings& settings,
                      std::string& message, std::uint32_t& error, std::uint32_t timeout) {
    message.clear();
    error = 0;
    ScmApi& scm = context.scm;
    auto fail = [&](std::uint32_t messageId, std::uint32_t eventId) {
        error = scm.LastError();
        message = context.formatError(messageId, error, false);
        if (eventId != 0) {
            context.events.LogEvent(kEventTypeError, eventId,
                                    context.formatError(messageId, error, true).c_str());
        }
        scm.SetLastError(error);
        return false;
    };

    ScmHandle manager(scm);
    if (!manager.Open(kScmConnectAndLock)) return fail(kMsgUninstallOpenScm, kEventIdOpenScmFailed);
    ServiceHandle service(scm);
    service.Reset(scm.OpenServiceByName(manager.Get(), settings.serviceName.c_str(),
                                        kServiceDeleteStopQuery));
    if (service.Get() == nullptr) return fail(kMsgUninstallOpenService, kEventIdOpenServiceFailed);

    std::uint32_t state = 0;
    if (scm.QueryState(service.Get(), state) && state != kServiceStopped) {
        if (!scm.Control(service.Get(), kControlStop)) {
            error = scm.LastError();
            message = context.formatError(kMsgUninstallStop, error, false);
        }
        if (!service.WaitForStop(timeout)) return fail(kMsgUninstallWait, 0);
    }

    if (!scm.Delete(service.Get())) return fail(kMsgUninstallDelete, kEventIdDeleteServiceFailed);

    context.events.LogEvent(kEventTypeInformation, kEventIdUninstalled,
                            settings.displayName.c_str());
    if (!context.events.RemoveEventSource(settings.displayName.c_str())) {
        return fail(kMsgUninstallEventSource, 0);
    }
    return true;
}

bool SetServiceToStatus(ServiceCommandContext& context, const std::string& serviceName,
                        int requestCode) {
    ScmApi& scm = context.scm;
    if (requestCode < kRequestStart || requestCode > kRequestStop) {
        scm.SetLastError(kErrorCallNotImplemented);
        return false;
    }
    const StatusRequest& request = kStatusRequests[requestCode];
    // Logs the failure and leaves the failed call's code as the last error for the caller.
    auto fail = [&](std::uint32_t eventId, std::uint32_t messageId) {
        const std::uint32_t error = scm.LastError();
        context.events.LogEvent(kEventTypeError, eventId,
                                context.formatError(messageId, error, true).c_str());
        scm.SetLastError(error);
        return false;
    };

    ScmHandle manager(scm);
    if (!manager.Open(kScmConnectAndLock)) return fail(kEventIdOpenScmFailed, kMsgStatusOpenScm);
    ServiceHandle service(scm);
    service.Reset(scm.OpenServiceByName(manager.Get(), serviceName.c_str(),
                                        request.access | kServiceRequiredAndQuery));
    if (service.Get() == nullptr) return fail(kEventIdOpenServiceFailed, kMsgStatusOpenService);

    std::uint32_t state = 0;
    if (!scm.QueryState(service.Get(), state)) {
        return fail(kEventIdQueryStatusFailed, kMsgStatusQuery);
    }
    if (state != request.targetState) {
        const bool sent = request.control == 0 ? scm.Start(service.Get())
                                               : scm.Control(service.Get(), request.control);
        if (!sent) {
            if (request.failureMessage != 0)
                return fail(request.failureEvent, request.failureMessage);
            const std::uint32_t error = scm.LastError();
            context.events.LogEventNumber(kEventTypeError, request.failureEvent, error, false);
            scm.SetLastError(error);
            return false;
        }
    }
    if (!service.WaitForServiceStatus(kRequestWaitMs, request.targetState, kStatusPollMs)) {
        const std::uint32_t error = scm.LastError();
        context.events.LogEventWithNumber(kEventTypeError, kEventIdWaitFailed,
                                          context.formatError(kMsgStatusWait, error, true).c_str(),
                                          request.targetState, false);
        scm.SetLastError(error);
        return false;
    }
    return true;
}

}  // namespace zelk
