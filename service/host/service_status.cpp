#include "service/host/service_status.h"

namespace zelk {

ServiceStatusReport ApplyStatusReport(ServiceStatusRecord& record, std::uint32_t state,
                                      std::uint32_t check_point, std::uint32_t wait_hint,
                                      std::uint32_t controls_accepted,
                                      std::uint32_t win32_exit_code,
                                      std::uint32_t service_exit_code) {
    ServiceStatusReport report;
    record.current_state = state;
    switch (state) {
        case kServiceStopped:
            record.check_point = 0;
            record.wait_hint = 0;
            report.win32_exit_code = win32_exit_code;
            report.service_specific_exit_code = service_exit_code;
            break;
        case kServiceRunning:
        case kServicePaused:
            record.check_point = 0;
            record.wait_hint = 0;
            break;
        default:
            if (check_point != kKeepStatusValue) record.check_point = check_point;
            if (wait_hint != kKeepStatusValue) record.wait_hint = wait_hint;
            break;
    }
    if (controls_accepted != kKeepStatusValue) record.controls_accepted = controls_accepted;

    const bool pending = state == kServiceStartPending || state == kServiceStopPending ||
                         state == kServiceContinuePending || state == kServicePausePending;
    report.current_state = state;
    report.controls_accepted = pending ? 0 : record.controls_accepted;
    report.check_point = record.check_point;
    report.wait_hint = record.wait_hint;
    return report;
}

ServiceStatusReporter::ServiceStatusReporter(ScmApi& scm, std::uint32_t controls_accepted)
    : scm_(scm) {
    record_.controls_accepted = controls_accepted;
}

void ServiceStatusReporter::SetHandle(SystemHandle handle) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    handle_ = handle;
}

bool ServiceStatusReporter::Report(std::uint32_t state, std::uint32_t check_point,
                                   std::uint32_t wait_hint, std::uint32_t controls_accepted,
                                   std::uint32_t win32_exit_code, std::uint32_t service_exit_code) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (stopped_) return false;
    const ServiceStatusReport report =
        ApplyStatusReport(record_, state, check_point, wait_hint, controls_accepted,
                          win32_exit_code, service_exit_code);
    if (handle_ == nullptr) return false;
    stopped_ = state == kServiceStopped;
    return scm_.SetStatus(handle_, report);
}

bool ServiceStatusReporter::ReportCurrent() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return Report(record_.current_state, kKeepStatusValue, kKeepStatusValue, kKeepStatusValue, 0,
                  0);
}

}  // namespace zelk
