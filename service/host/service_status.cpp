#include "service/host/service_status.h"

namespace zelk {

ServiceStatusReport ApplyStatusReport(ServiceStatusRecord& record, std::uint32_t state,
                                      std::uint32_t checkPoint, std::uint32_t waitHint,
                                      std::uint32_t controlsAccepted, std::uint32_t win32ExitCode,
                                      std::uint32_t serviceExitCode) {
    ServiceStatusReport report;
    record.currentState = state;
    switch (state) {
        case kServiceStopped:
            record.checkPoint = 0;
            record.waitHint = 0;
            report.win32ExitCode = win32ExitCode;
            report.serviceSpecificExitCode = serviceExitCode;
            break;
        case kServiceRunning:
        case kServicePaused:
            record.checkPoint = 0;
            record.waitHint = 0;
            break;
        default:
            if (checkPoint != kKeepStatusValue) record.checkPoint = checkPoint;
            if (waitHint != kKeepStatusValue) record.waitHint = waitHint;
            break;
    }
    if (controlsAccepted != kKeepStatusValue) record.controlsAccepted = controlsAccepted;

    const bool pending = state == kServiceStartPending || state == kServiceStopPending ||
                         state == kServiceContinuePending || state == kServicePausePending;
    report.currentState = state;
    report.controlsAccepted = pending ? 0 : record.controlsAccepted;
    report.checkPoint = record.checkPoint;
    report.waitHint = record.waitHint;
    return report;
}

ServiceStatusReporter::ServiceStatusReporter(ScmApi& scm, std::uint32_t controlsAccepted)
    : scm_(scm) {
    record_.controlsAccepted = controlsAccepted;
}

void ServiceStatusReporter::SetHandle(SystemHandle handle) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    handle_ = handle;
}

bool ServiceStatusReporter::Report(std::uint32_t state, std::uint32_t checkPoint,
                                   std::uint32_t waitHint, std::uint32_t controlsAccepted,
                                   std::uint32_t win32ExitCode, std::uint32_t serviceExitCode) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (stopped_) return false;
    const ServiceStatusReport report = ApplyStatusReport(
        record_, state, checkPoint, waitHint, controlsAccepted, win32ExitCode, serviceExitCode);
    if (handle_ == nullptr) return false;
    stopped_ = state == kServiceStopped;
    return scm_.SetStatus(handle_, report);
}

bool ServiceStatusReporter::ReportCurrent() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return Report(record_.currentState, kKeepStatusValue, kKeepStatusValue, kKeepStatusValue, 0, 0);
}

}  // namespace zelk
